#include "platform/files.h"

#include "platform/stream_io.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>
#endif

namespace wav2ima {

namespace {

enum FileKind { kOtherKind, kDirectory, kRegular };

struct FileStatus {
  FileKind kind;
  std::int64_t length;
  // Which file it is, compared as a whole; a device may not say.
  bool identified;
  unsigned long long volume;
  unsigned long long index;
};

#if defined(_WIN32)

// Windows identifies a file by its volume's serial number and its index on
// the volume; st_ino is always 0 there and st_dev differs between calls.
bool identity_of(HANDLE handle, FileStatus& status) {
  BY_HANDLE_FILE_INFORMATION info;
  status.identified =
      handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
  if (status.identified) {
    status.volume = info.dwVolumeSerialNumber;
    status.index =
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  return status.identified;
}

bool status_of(int fd, FileStatus& status) {
  struct _stat64 stat_result;
  if (fd < 0 || _fstat64(fd, &stat_result) != 0) return false;
  const auto type = stat_result.st_mode & _S_IFMT;
  status.kind = type == _S_IFDIR ? kDirectory : type == _S_IFREG ? kRegular : kOtherKind;
  status.length = stat_result.st_size;
  (void)identity_of(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), status);
  return true;
}

int open_for_writing(const char* name) {
  return _open(name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

std::FILE* stream_of_fd(int fd) {
  return _fdopen(fd, "wb");
}

int close_fd(int fd) {
  return _close(fd);
}

int truncate_fd(int fd) {
  return _chsize_s(fd, 0) == 0 ? 0 : -1;
}

int fd_of(std::FILE* stream) {
  return _fileno(stream);
}

// Never called: Windows names no descriptor as a file.
std::FILE* stream_of_descriptor(int /*fd*/, const char* /*mode*/) {
  return nullptr;
}

#else

bool status_of(int fd, FileStatus& status) {
  struct stat stat_result;
  if (fd < 0 || fstat(fd, &stat_result) != 0) return false;
  status.kind = S_ISDIR(stat_result.st_mode)   ? kDirectory
                : S_ISREG(stat_result.st_mode) ? kRegular
                                               : kOtherKind;
  status.length = stat_result.st_size;
  status.identified = true;
  status.volume = stat_result.st_dev;
  status.index = stat_result.st_ino;
  return true;
}

int open_for_writing(const char* name) {
  return open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}

std::FILE* stream_of_fd(int fd) {
  return fdopen(fd, "wb");
}

int close_fd(int fd) {
  return close(fd);
}

int truncate_fd(int fd) {
  return ftruncate(fd, 0);
}

int fd_of(std::FILE* stream) {
  return fileno(stream);
}

#if defined(__wasi__)

// Never called: WASI names no descriptor as a file and cannot copy one.
std::FILE* stream_of_descriptor(int /*fd*/, const char* /*mode*/) {
  return nullptr;
}

#else

// A stream over a copy of the descriptor: the copy shares the file's
// position and mode with the one the program was given, and closing it
// leaves that one open. nullptr when the descriptor is not open in the
// direction of `mode`.
std::FILE* stream_of_descriptor(int fd, const char* mode) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return nullptr;
  const int access = flags & O_ACCMODE;
  if (access != O_RDWR && access != (mode[0] == 'r' ? O_RDONLY : O_WRONLY)) return nullptr;
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  std::FILE* stream = fdopen(copy, mode);
  if (stream == nullptr) (void)close(copy);
  return stream;
}

// The decimal number that is all of `digits`; false when it is not one.
bool parse_descriptor(const char* digits, int& fd) {
  if (*digits == '\0') return false;
  long value = 0;
  for (const char* at = digits; *at != '\0'; ++at) {
    if (*at < '0' || *at > '9') return false;
    value = value * 10 + (*at - '0');
    // untrusted size: no descriptor has a number this large.
    if (value > INT_MAX) return false;
  }
  fd = static_cast<int>(value);
  return true;
}

#endif
#endif

bool status_of(std::FILE* stream, FileStatus& status) {
  return status_of(fd_of(stream), status);
}

bool same_identity(const FileStatus& a, const FileStatus& b) {
  return a.identified && b.identified && a.volume == b.volume && a.index == b.index;
}

}  // namespace

#if defined(_WIN32) || defined(__wasi__)

// Windows and WASI name no descriptor as a file: "/dev/stdout" is an
// ordinary name.
int descriptor_named(const char* /*name*/) {
  return -1;
}

#else

int descriptor_named(const char* name) {
  if (name == nullptr) return -1;
  const char* const standard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
  for (int fd = 0; fd < 3; ++fd) {
    if (std::strcmp(name, standard[fd]) == 0) return fd;
  }
  int fd = -1;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t length = std::strlen(prefix);
    if (std::strncmp(name, prefix, length) == 0 && parse_descriptor(name + length, fd)) return fd;
  }
  return -1;
}

#endif

#if defined(_WIN32)

// Outputs are opened by name, never in append mode.
bool appends(std::FILE* /*stream*/) {
  return false;
}

#else

bool appends(std::FILE* stream) {
  const int flags = fcntl(fileno(stream), F_GETFL);
  return flags >= 0 && (flags & O_APPEND) != 0;
}

#endif

std::FILE* open_input(const char* name) {
  const int given = descriptor_named(name);
  std::FILE* input = given >= 0        ? stream_of_descriptor(given, "rb")
                     : name != nullptr ? std::fopen(name, "rb")
                                       : nullptr;
  FileStatus status;
  if (input != nullptr && status_of(input, status) && status.kind == kDirectory) {
    (void)std::fclose(input);
    return nullptr;
  }
  return input;
}

std::FILE* open_output(const char* name) {
  if (name == nullptr) return nullptr;
  const int given = descriptor_named(name);
  if (given >= 0) return stream_of_descriptor(given, "wb");
  const int fd = open_for_writing(name);
  if (fd < 0) return nullptr;
  std::FILE* output = stream_of_fd(fd);
  if (output == nullptr) (void)close_fd(fd);
  return output;
}

int truncate_output(const char* name, std::FILE* output) {
  if (descriptor_named(name) >= 0) return 0;
  FileStatus status;
  if (!status_of(output, status)) return -1;
  if (status.kind != kRegular) return 0;
  return truncate_fd(fd_of(output)) == 0 ? 0 : -1;
}

bool same_file(std::FILE* a, std::FILE* b) {
  FileStatus a_status;
  FileStatus b_status;
  return status_of(a, a_status) && status_of(b, b_status) && same_identity(a_status, b_status);
}

std::int64_t regular_file_length(std::FILE* stream) {
  FileStatus status;
  if (!status_of(stream, status) || status.kind != kRegular) return kLengthUnknown;
  const std::int64_t position = tell_stream(stream);
  if (position < 0) return kLengthUnknown;
  return position < status.length ? status.length - position : 0;
}

}  // namespace wav2ima
