#include "tests/test_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include "platform/pipe_view.h"
#include "platform/stream_io.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

using namespace wav2ima;

namespace fs = std::filesystem;

namespace {

// Names are UTF-8 everywhere (on Windows through the manifest); the
// library's narrow path would take them in the C locale's encoding.
fs::path path_of(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

#if defined(_WIN32)
// Wine runs Windows programs with the host's root as drive Z:.
bool under_wine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

unsigned long process_id() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

std::FILE* stream_of(const Bytes& bytes) {
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) throw std::runtime_error("tmpfile");
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
    throw std::runtime_error("write");
  }
  std::rewind(stream);
  return stream;
}

Bytes contents(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  Bytes out;
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) {
    out.push_back(static_cast<unsigned char>(c));
  }
  return out;
}

Pipe open_pipe() {
  int ends[2];
#if defined(_WIN32)
  const bool opened = _pipe(ends, 1 << 16, _O_BINARY) == 0;
  std::FILE* reader = opened ? _fdopen(ends[0], "rb") : nullptr;
  std::FILE* writer = opened ? _fdopen(ends[1], "wb") : nullptr;
#else
  const bool opened = pipe(ends) == 0;
  std::FILE* reader = opened ? fdopen(ends[0], "rb") : nullptr;
  std::FILE* writer = opened ? fdopen(ends[1], "wb") : nullptr;
#endif
  if (reader == nullptr || writer == nullptr) throw std::runtime_error("pipe");
  return {reader, writer};
}

std::string sha256(const Bytes& bytes) {
  static constexpr std::uint32_t kRound[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  Bytes message = bytes;
  message.push_back(0x80);
  while (message.size() % 64 != 56)
    message.push_back(0);
  for (int i = 7; i >= 0; --i) {
    message.push_back(static_cast<unsigned char>((std::uint64_t{bytes.size()} * 8) >> (8 * i)));
  }
  const auto rotate = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const unsigned char* at = &message[block + 4 * static_cast<std::size_t>(i)];
      w[i] = std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
             at[3];
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    std::copy(h, h + 8, v);
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 = v[7] + (rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25)) +
                               ((v[4] & v[5]) ^ (~v[4] & v[6])) + kRound[i] + w[i];
      const std::uint32_t t2 = (rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22)) +
                               ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
      std::copy_backward(v, v + 7, v + 8);
      v[4] += t1;
      v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
      h[i] += v[i];
  }
  std::string hex;
  for (const std::uint32_t word : h) {
    char digits[9];
    (void)std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
    hex += digits;
  }
  return hex;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
  return fs::exists(fs::symlink_status(path_of(path)));
}

void write_sparse(const std::string& path, std::uint64_t size, const std::vector<Piece>& pieces) {
  write_file(path, {});
  fs::resize_file(path_of(path), size);
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) throw std::runtime_error("open " + path);
  for (const Piece& piece : pieces) {
    if (seek_stream(file, static_cast<std::int64_t>(piece.offset), SEEK_SET) != 0 ||
        std::fwrite(piece.bytes.data(), 1, piece.bytes.size(), file) != piece.bytes.size()) {
      throw std::runtime_error("write " + path);
    }
  }
  if (std::fclose(file) != 0) throw std::runtime_error("close " + path);
}

std::string full_device() {
#if defined(_WIN32)
  return under_wine() ? "Z:\\dev\\full" : "";
#else
  return "/dev/full";
#endif
}

std::vector<std::string> program_words(const std::string& program) {
  std::vector<std::string> words;
  const std::string emulator = WAV2IMA_EMULATOR;  // words between '|'
  for (std::size_t start = 0; start < emulator.size();) {
    const std::size_t end = std::min(emulator.find('|', start), emulator.size());
    words.push_back(emulator.substr(start, end - start));
    start = end + 1;
  }
  words.push_back(program);
  return words;
}

std::string shell_words(const std::string& program) {
  std::string command;
  for (const std::string& word : program_words(program)) {
    command += (command.empty() ? "'" : " '") + word + "'";
  }
  return command;
}

bool skipped_without_pipe_view() {
  if (pipes_readable_as_files()) return false;
  std::printf(
      "skipped: this C library has neither fopencookie nor funopen to read a pipe as a file\n");
  return true;
}

bool skipped_under_wasi(const char* why) {
  if (std::string_view(PROGRAMS_SYSTEM) != "WASI") return false;
  std::printf("skipped under WASI: %s\n", why);
  return true;
}

bool skipped_on_windows(const char* why) {
  if (!kWindows) return false;
  std::printf("skipped on Windows: %s\n", why);
  return true;
}

TempDir::TempDir() {
  const fs::path base = fs::temp_directory_path();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name =
        "wav2ima-test-" + std::to_string(process_id()) + "-" + std::to_string(counter++);
    if (fs::create_directory(base / name)) {
      path = (base / name).string();
      return;
    }
  }
  throw std::runtime_error("no temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}
