#include "platform/messages.h"

#if defined(_WIN32)
#include <io.h>

#include <algorithm>
#include <cstring>
#else
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#endif
#if !defined(_WIN32) && !defined(__wasi__)
#include <csignal>
#endif

namespace wav2ima {

#if defined(_WIN32)

// No signal stops a Windows program whose reader has gone. (POSIX sends
// SIGPIPE, ignored below; WASI has no signals.) No gathering write either:
// the pieces go through a buffer on the stack.
void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count) {
  char buffer[4096];
  std::size_t used = 0;
  const int fd = _fileno(stream);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t done = 0; done < pieces[i].size;) {
      const std::size_t take = std::min(pieces[i].size - done, sizeof buffer - used);
      std::memcpy(buffer + used, pieces[i].text + done, take);
      used += take;
      done += take;
      if (used == sizeof buffer) {
        (void)_write(fd, buffer, static_cast<unsigned>(used));
        used = 0;
      }
    }
  }
  if (used > 0) (void)_write(fd, buffer, static_cast<unsigned>(used));
}

#else

namespace {

void write_all(int fd, const MessagePiece* pieces, std::size_t count) {
  iovec parts[kMaxMessagePieces];
  std::size_t left = 0;
  for (std::size_t i = 0; i < count && left < kMaxMessagePieces; ++i) {
    parts[left++] = iovec{const_cast<char*>(pieces[i].text), pieces[i].size};
  }
  for (iovec* next = parts; left > 0;) {
    ssize_t put = writev(fd, next, static_cast<int>(left));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    // A write cut short goes on where it stopped.
    for (; left > 0 && static_cast<std::size_t>(put) >= next->iov_len; ++next, --left) {
      put -= static_cast<ssize_t>(next->iov_len);
    }
    if (left > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + put;
      next->iov_len -= static_cast<std::size_t>(put);
    }
  }
}

}  // namespace

#if defined(__wasi__)

// WASI has no signals: a reader that has gone is an error like any other.
void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count) {
  write_all(fileno(stream), pieces, count);
}

#else

void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count) {
  // Ignored around this write alone: the output's own pipe still ends the
  // program by SIGPIPE when its reader has gone, as for any other writer.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  const bool ignored = sigaction(SIGPIPE, &ignore, &previous) == 0;
  write_all(fileno(stream), pieces, count);
  if (ignored) (void)sigaction(SIGPIPE, &previous, nullptr);
}

#endif
#endif

}  // namespace wav2ima
