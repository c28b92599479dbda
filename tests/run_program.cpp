// Starting a program under test, capturing what it prints: fork and exec on
// POSIX, CreateProcess on Windows.
#include <csignal>
#include <stdexcept>

#include "tests/test_files.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string slurp(const std::string& path) {
  const Bytes bytes = read_file(path);
  std::string text(bytes.begin(), bytes.end());
  // Windows writes the text-mode line end "\r\n".
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  return text;
}

#if defined(_WIN32)

std::wstring wide(const std::string& utf8) {
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), count);
  out.resize(static_cast<std::size_t>(count > 0 ? count - 1 : 0));
  return out;
}

// One argument as the C runtime splits a command line: quoted, with the
// backslashes before a quote doubled.
std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

HANDLE inheritable_file(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

int run_and_wait(const std::vector<std::string>& words, const std::string& cwd,
                 const RunOptions& options, const std::string& out_path,
                 const std::string& err_path) {
  if (options.file_size_limit >= 0 || !options.stdin_from.empty() ||
      options.stdout_channel != Channel::kFile) {
    throw std::runtime_error("run_program: a POSIX-only option on Windows");
  }
  std::wstring command;
  for (const std::string& word : words)
    command += (command.empty() ? L"" : L" ") + quoted(wide(word));
  const HANDLE out = inheritable_file(out_path);
  const HANDLE err = inheritable_file(err_path);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      wide(cwd).c_str(), &startup, &process);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) throw std::runtime_error("CreateProcess " + words[0]);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

#else

// A process that copies `from` to `to` until the end, as `cat` would: the
// other side of a pipe the program under test reads or writes. It closes
// the pipe's other end, so that it sees the end of the pipe or a reader gone.
// With `wait_on` (>= 0), it then waits until that pipe ends (the program
// holds its other end, `wait_end`, until it exits) before its own closes.
pid_t start_copier(int from, int to, int other_end, int wait_on = -1, int wait_end = -1) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    (void)close(other_end);
    if (wait_end >= 0) (void)close(wait_end);
    char buffer[65536];
    for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;) {
      for (ssize_t put = 0; put < got;) {
        const ssize_t n = write(to, buffer + put, static_cast<std::size_t>(got - put));
        if (n <= 0) _exit(1);
        put += n;
      }
    }
    char ignored = 0;
    while (wait_on >= 0 && read(wait_on, &ignored, 1) > 0) {
    }
    // On a socket, the reader at the other end sees the end of its input
    // while it can still write back.
    (void)shutdown(to, SHUT_WR);
    _exit(0);
  }
  return pid;
}

// Descriptors from 3 below this are closed in the program's process.
constexpr int kDescriptorsClosed = 1024;

// ends[0] is read from and ends[1] written to, as for a pipe.
void open_channel(Channel channel, int ends[2]) {
  const bool socket = channel == Channel::kSocket || channel == Channel::kOneSocket ||
                      channel == Channel::kSocketThatResets;
  // Close-on-exec: the program gets its own ends as 0 to 2 and no others.
  if ((socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends)
              : pipe2(ends, O_CLOEXEC)) != 0) {
    throw std::runtime_error("pipe");
  }
  // A byte the copier never reads: a Unix socket closed with unread bytes
  // resets its peer, which reads what was sent, then ECONNRESET.
  if (channel == Channel::kSocketThatResets && write(ends[0], "x", 1) != 1) {
    throw std::runtime_error("write");
  }
  if (channel == Channel::kNonBlockingPipeThatPauses && fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
    throw std::runtime_error("fcntl");
  }
}

int run_and_wait(std::vector<std::string> words, const std::string& cwd, const RunOptions& options,
                 const std::string& out_path, const std::string& err_path) {
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  std::vector<pid_t> copiers;
  int in = -1;
  int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  // Held by the program until it exits, for a copier that pauses till then.
  int running[2] = {-1, -1};
  if (!options.stdin_from.empty()) {
    const int file = open((cwd + "/" + options.stdin_from).c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) throw std::runtime_error("open " + options.stdin_from);
    int ends[2];
    open_channel(options.stdin_channel, ends);
    const bool pauses = options.stdin_channel == Channel::kNonBlockingPipeThatPauses;
    if (pauses && pipe(running) != 0) throw std::runtime_error("pipe");
    copiers.push_back(start_copier(file, ends[1], ends[0], running[0], running[1]));
    if (pauses) (void)close(running[0]);
    (void)close(file);
    if (options.stdin_channel == Channel::kOneSocket) {
      copiers.push_back(start_copier(ends[1], out, ends[0]));
      (void)close(out);
      out = fcntl(ends[0], F_DUPFD_CLOEXEC, 0);
    }
    (void)close(ends[1]);
    in = ends[0];
  }
  if (options.stdout_channel != Channel::kFile) {
    int ends[2];
    open_channel(options.stdout_channel, ends);
    if (options.stdout_channel != Channel::kPipeWithoutReader) {
      copiers.push_back(start_copier(ends[0], out, ends[1]));
    }
    (void)close(ends[0]);
    (void)close(out);
    out = ends[1];
  }
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (out < 0 || err < 0 || chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        (in >= 0 && dup2(in, 0) < 0)) {
      _exit(127);
    }
    // The program gets 0 to 2 as a shell gives them, and no descriptor the
    // test runner holds (but the one a pausing copier waits on).
    for (int fd = 3; fd < kDescriptorsClosed; ++fd) {
      if (fd != running[1]) (void)close(fd);
    }
    // A writer to a pipe whose reader has gone ends by SIGPIPE unless its
    // parent ignored the signal; the test runner may have.
    std::signal(SIGPIPE, SIG_DFL);
    if (options.file_size_limit >= 0) {
      // Ignored, the signal turns the over-long write into an EFBIG error.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (const int fd : {in, out, err, running[1]}) {
    if (fd >= 0) (void)close(fd);
  }
  int status = 0;
  const bool ended = waitpid(pid, &status, 0) == pid;
  for (const pid_t copier : copiers)
    (void)waitpid(copier, nullptr, 0);
  if (ended && WIFEXITED(status)) return WEXITSTATUS(status);
  if (ended && WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  throw std::runtime_error("program did not end");
}

#endif

RunResult run_words(const std::vector<std::string>& words, const std::string& cwd,
                    const RunOptions& options) {
  TempDir capture;
  const std::string out_path = capture / "stdout";
  const std::string err_path = capture / "stderr";
  const int status = run_and_wait(words, cwd, options, out_path, err_path);
  return {status, slurp(out_path), slurp(err_path)};
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const RunOptions& options) {
  std::vector<std::string> words = program_words(program);
  words.insert(words.end(), args.begin(), args.end());
  return run_words(words, cwd, options);
}

RunResult run_shell(std::string command, const std::string& cwd, const RunOptions& options) {
  for (const auto& [word, path] :
       {std::pair{"$W", WAV2IMA_PATH}, {"$I", IMA2WAV_PATH}, {"$G", WAVGEN_PATH}}) {
    for (std::size_t at; (at = command.find(word)) != std::string::npos;) {
      command.replace(at, 2, shell_words(path));
    }
  }
  return run_words({"/bin/sh", "-c", command}, cwd, options);
}
