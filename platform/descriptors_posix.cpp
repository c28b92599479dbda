// Descriptors and streams on POSIX systems and on WASI, whose C library
// offers the same calls: device and inode, the append flag, the names of
// descriptors, gathering writes and 64-bit offsets.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/stream_io.h"
#include "platform/system.h"

namespace wav2ima {

static_assert(sizeof(off_t) == sizeof(std::int64_t), "needs _FILE_OFFSET_BITS=64");

int seek_stream(std::FILE* stream, std::int64_t offset, int whence) {
  return fseeko(stream, static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

std::int64_t tell_stream(std::FILE* stream) {
  return ftello(stream);
}

std::int64_t written_end(std::FILE* stream) {
  return lseek(fileno(stream), 0, SEEK_CUR);
}

int descriptor_of(std::FILE* stream) {
  return fileno(stream);
}

int open_null_device() {
  return open("/dev/null", O_RDWR);
}

int open_input_descriptor(const char* name) {
  return open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

int open_output_descriptor(const char* name) {
  // Never the program's controlling terminal, whatever the output is.
  return open(name, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
}

std::FILE* stream_of_opened(int fd, const char* mode) {
  return fdopen(fd, mode);
}

int close_descriptor(int fd) {
  return close(fd);
}

int truncate_descriptor(int fd) {
  return ftruncate(fd, 0);
}

bool status_of(int fd, FileStatus& status) {
  struct stat stat_result;
  if (fd < 0 || fstat(fd, &stat_result) != 0) return false;
  status.kind = S_ISDIR(stat_result.st_mode)   ? kDirectory
                : S_ISREG(stat_result.st_mode) ? kRegular
                                               : kOtherKind;
  status.length = stat_result.st_size;
  status.length_vouched = status.kind != kRegular || file_system_vouches_for_length(fd);
  status.identity =
      FileIdentity{true, S_ISREG(stat_result.st_mode) || S_ISBLK(stat_result.st_mode),
                   isatty(fd) != 0, static_cast<unsigned long long>(stat_result.st_dev),
                   static_cast<unsigned long long>(stat_result.st_ino)};
  return true;
}

bool appends(std::FILE* stream) {
  const int flags = fcntl(fileno(stream), F_GETFL);
  return flags >= 0 && (flags & O_APPEND) != 0;
}

// Each name is the descriptor it names (on WASI, as the host gave it), used
// as it is without a copy, which costs no descriptor.
bool descriptors_have_names() {
  return true;
}

bool held(int fd) {
  return fcntl(fd, F_GETFL) >= 0;
}

std::FILE* stream_of_descriptor(int fd, const char* mode) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return nullptr;
  const int access = flags & O_ACCMODE;
  if (access != O_RDWR && access != (mode[0] == 'r' ? O_RDONLY : O_WRONLY)) {
    errno = EBADF;
    return nullptr;
  }
  return fdopen(fd, mode);
}

std::ptrdiff_t read_descriptor(int fd, unsigned char* into, std::size_t size) {
  ssize_t got = 0;
  do {
    got = read(fd, into, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

void write_pieces(int fd, const MessagePiece* pieces, std::size_t count) {
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

}  // namespace wav2ima
