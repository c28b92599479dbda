#include "tests/test_files.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A process that copies `from` to `to` until the end, as `cat` would: the
// other side of a pipe the program under test reads or writes. It closes
// the pipe's other end, so that it sees the end of the pipe or a reader gone.
pid_t start_copier(int from, int to, int other_end) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    (void)close(other_end);
    char buffer[65536];
    for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;) {
      for (ssize_t put = 0; put < got;) {
        const ssize_t n = write(to, buffer + put, static_cast<std::size_t>(got - put));
        if (n <= 0) _exit(1);
        put += n;
      }
    }
    _exit(0);
  }
  return pid;
}

void open_pipe(int ends[2]) {
  if (pipe(ends) != 0) throw std::runtime_error("pipe");
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const RunOptions& options) {
  TempDir capture;
  const std::string out_path = capture / "stdout";
  const std::string err_path = capture / "stderr";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  std::vector<pid_t> copiers;
  int in = -1;
  if (!options.stdin_from.empty()) {
    const int file = open((cwd + "/" + options.stdin_from).c_str(), O_RDONLY);
    if (file < 0) throw std::runtime_error("open " + options.stdin_from);
    int ends[2];
    open_pipe(ends);
    copiers.push_back(start_copier(file, ends[1], ends[0]));
    (void)close(file);
    (void)close(ends[1]);
    in = ends[0];
  }
  int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (options.stdout_pipe) {
    int ends[2];
    open_pipe(ends);
    copiers.push_back(start_copier(ends[0], out, ends[1]));
    (void)close(ends[0]);
    (void)close(out);
    out = ends[1];
  }
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (out < 0 || err < 0 || chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        (in >= 0 && dup2(in, 0) < 0)) {
      _exit(127);
    }
    if (options.file_size_limit >= 0) {
      // Ignored, the signal turns the over-long write into an EFBIG error.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  for (const int fd : {in, out, err}) {
    if (fd >= 0) (void)close(fd);
  }
  int status = 0;
  const bool exited = waitpid(pid, &status, 0) == pid && WIFEXITED(status);
  for (const pid_t copier : copiers)
    (void)waitpid(copier, nullptr, 0);
  if (!exited) throw std::runtime_error("program did not exit normally");
  return {WEXITSTATUS(status), slurp(out_path), slurp(err_path)};
}
