#include "platform/messages.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <cerrno>

#include <unistd.h>
#endif
#if !defined(_WIN32) && !defined(__wasi__)
#include <csignal>
#endif

namespace wav2ima {

#if defined(_WIN32)

// No signal stops a Windows program whose reader has gone. (POSIX sends
// SIGPIPE, ignored below; WASI has no signals.)
void write_message(std::FILE* stream, const char* text, std::size_t size) {
  (void)_write(_fileno(stream), text, static_cast<unsigned>(size));
}

#else

namespace {

void write_all(int fd, const char* text, std::size_t size) {
  for (std::size_t put = 0; put < size;) {
    const ssize_t n = write(fd, text + put, size - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    put += static_cast<std::size_t>(n);
  }
}

}  // namespace

#if defined(__wasi__)

// WASI has no signals: a reader that has gone is an error like any other.
void write_message(std::FILE* stream, const char* text, std::size_t size) {
  write_all(fileno(stream), text, size);
}

#else

void write_message(std::FILE* stream, const char* text, std::size_t size) {
  // Ignored around this write alone: the output's own pipe still ends the
  // program by SIGPIPE when its reader has gone, as for any other writer.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  const bool ignored = sigaction(SIGPIPE, &ignore, &previous) == 0;
  write_all(fileno(stream), text, size);
  if (ignored) (void)sigaction(SIGPIPE, &previous, nullptr);
}

#endif
#endif

}  // namespace wav2ima
