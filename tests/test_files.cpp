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
