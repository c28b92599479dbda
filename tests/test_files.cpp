#include "tests/test_files.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Bytes le32(std::uint32_t value) {
  return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes chunk(const std::string& id, std::uint32_t size, const Bytes& body) {
  return text(id) + le32(size) + body;
}

Bytes chunk(const std::string& id, const Bytes& body) {
  return chunk(id, static_cast<std::uint32_t>(body.size()), body);
}

Bytes riff(std::uint32_t riff_size, const Bytes& chunks) {
  return text("RIFF") + le32(riff_size) + text("WAVE") + chunks;
}

Bytes riff(const Bytes& chunks) {
  return riff(static_cast<std::uint32_t>(4 + chunks.size()), chunks);
}

Bytes fmt16() {
  return {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
}

Bytes frames(const std::vector<std::pair<std::int16_t, std::int16_t>>& samples) {
  Bytes out;
  for (const auto& [left, right] : samples) {
    for (const std::int16_t s : {left, right}) {
      const auto bits = static_cast<std::uint16_t>(s);
      out.push_back(static_cast<unsigned char>(bits));
      out.push_back(static_cast<unsigned char>(bits >> 8));
    }
  }
  return out;
}

Bytes loud_frames(int n) {
  return frames(std::vector<std::pair<std::int16_t, std::int16_t>>(static_cast<std::size_t>(n),
                                                                   {1000, -1000}));
}

Bytes example60() {
  return riff(chunk("fmt ", fmt16()) + chunk("data", loud_frames(4)));
}

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
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/wav2ima-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path = pattern;
}

TempDir::~TempDir() {
  const std::string command = "rm -rf '" + path + "'";
  (void)std::system(command.c_str());
}

namespace {

std::string slurp(const std::string& path) {
  const Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd) {
  TempDir capture;
  const std::string out_path = capture / "stdout";
  const std::string err_path = capture / "stderr";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    throw std::runtime_error("program did not exit normally");
  }
  return {WEXITSTATUS(status), slurp(out_path), slurp(err_path)};
}
