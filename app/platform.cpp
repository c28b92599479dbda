#include "app/platform.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

bool stdout_status(FileStatus& status) {
  return identity_of(GetStdHandle(STD_OUTPUT_HANDLE), status);
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

bool stdout_status(FileStatus& status) {
  return status_of(STDOUT_FILENO, status);
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

#endif

bool status_of(std::FILE* stream, FileStatus& status) {
  return status_of(fd_of(stream), status);
}

bool same_identity(const FileStatus& a, const FileStatus& b) {
  return a.identified && b.identified && a.volume == b.volume && a.index == b.index;
}

}  // namespace

std::FILE* open_input(const char* name) {
  std::FILE* input = name != nullptr ? std::fopen(name, "rb") : nullptr;
  FileStatus status;
  if (input != nullptr && status_of(input, status) && status.kind == kDirectory) {
    (void)std::fclose(input);
    return nullptr;
  }
  return input;
}

std::FILE* open_output(const char* name) {
  if (name == nullptr) return nullptr;
  const int fd = open_for_writing(name);
  if (fd < 0) return nullptr;
  std::FILE* output = stream_of_fd(fd);
  if (output == nullptr) (void)close_fd(fd);
  return output;
}

int truncate_output(std::FILE* output) {
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

bool is_standard_output(std::FILE* stream) {
  FileStatus stream_status;
  FileStatus output_status;
  return status_of(stream, stream_status) && stdout_status(output_status) &&
         same_identity(stream_status, output_status);
}

std::int64_t regular_file_length(std::FILE* stream) {
  FileStatus status;
  if (!status_of(stream, status) || status.kind != kRegular) return kLengthUnknown;
  return status.length;
}

}  // namespace wav2ima
