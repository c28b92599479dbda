#include "platform/files.h"

#include <cerrno>

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

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#endif
#if defined(WAV2IMA_HAVE_LINUX_MAGIC)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace wav2ima {

namespace {

// The C runtime's name for a POSIX call it has: the same with an underscore.
#if defined(_WIN32)
#define WAV2IMA_POSIX(name) _##name
#else
#define WAV2IMA_POSIX(name) name
#endif

enum FileKind { kOtherKind, kDirectory, kRegular };

struct FileStatus {
  FileKind kind;
  std::int64_t length;
  // False where the file system makes the bytes as they are read.
  bool length_vouched;
  FileIdentity identity;
};

}  // namespace

// Windows: the C runtime's descriptors over the system's handles; outputs
// are opened by name alone, so none appends.
#if defined(_WIN32)

namespace {

constexpr const char* kNullDevice = "NUL";
constexpr int kNullFlags = _O_RDWR | _O_BINARY;
constexpr int kOutputFlags = _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT;
constexpr int kOutputMode = _S_IREAD | _S_IWRITE;

int truncate_fd(int fd) {
  return _chsize_s(fd, 0) == 0 ? 0 : -1;
}

// Windows identifies a file by its volume's serial number and its index on
// the volume; st_ino is always 0 there and st_dev differs between calls.
void identify(HANDLE handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  identity.known = handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
  if (!identity.known) return;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

bool status_of(int fd, FileStatus& status) {
  struct _stat64 stat_result;
  if (fd < 0 || _fstat64(fd, &stat_result) != 0) return false;
  const auto type = stat_result.st_mode & _S_IFMT;
  status.kind = type == _S_IFDIR ? kDirectory : type == _S_IFREG ? kRegular : kOtherKind;
  status.length = stat_result.st_size;
  status.length_vouched = true;
  status.identity = FileIdentity{};
  identify(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), status.identity);
  status.identity.stored = status.kind == kRegular;
  status.identity.terminal = _isatty(fd) != 0;
  return true;
}

}  // namespace

bool appends(std::FILE* /*stream*/) {
  return false;
}

// POSIX systems and WASI: device and inode, the append flag, and the file
// systems that vouch for no length.
#else

namespace {

constexpr const char* kNullDevice = "/dev/null";
constexpr int kNullFlags = O_RDWR;
// Never the program's controlling terminal, whatever the output is.
constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
constexpr int kOutputMode = 0666;

int truncate_fd(int fd) {
  return ftruncate(fd, 0);
}

// The file systems that make a file's bytes as they are read and say a
// length they do not hold (0, or 4096 for every sysfs attribute), told by
// the file system, so that no byte is read to find out (a read of
// /proc/kmsg consumes what it reads). Where the build finds no way to ask
// (WASI: the host reports such a file as no regular one), every regular
// file's length holds.
bool file_system_vouches_for_length(int fd) {
#if defined(WAV2IMA_HAVE_LINUX_MAGIC)
  struct statfs file_system;
  if (fstatfs(fd, &file_system) != 0) return true;
  for (const auto magic : {PROC_SUPER_MAGIC, SYSFS_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC,
                           SECURITYFS_MAGIC, CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC}) {
    if (file_system.f_type == static_cast<decltype(file_system.f_type)>(magic)) return false;
  }
#else
  (void)fd;
#endif
  return true;
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

}  // namespace

bool appends(std::FILE* stream) {
  const int flags = fcntl(fileno(stream), F_GETFL);
  return flags >= 0 && (flags & O_APPEND) != 0;
}

#endif

// The names of descriptors. POSIX and WASI: the names bash and gawk read,
// each the descriptor it names (on WASI, as the host gave it), used as it is
// without a copy, which costs no descriptor. Windows has no such names:
// every name is a file's.
#if defined(_WIN32)

namespace {

int descriptor_named(const char* /*name*/) {
  return -1;
}

bool held(int /*fd*/) {
  return false;
}

std::FILE* stream_of_descriptor(int /*fd*/, const char* /*mode*/) {
  return nullptr;
}

bool reachable(const char* /*name*/) {
  return true;
}

}  // namespace

#else

namespace {

#if defined(__wasi__)
// A host that names a working directory the program cannot enter (it was
// deleted) leaves it none: a relative name names nothing, as the kernel
// finds nothing there, where the C library would take it from the root.
bool no_working_directory = false;
#endif

// The number that is all of `digits`, written as the system writes it:
// decimal, no sign, no leading zero. False for anything else.
bool parse_descriptor(const char* digits, int& fd) {
  if (*digits == '\0' || (digits[0] == '0' && digits[1] != '\0')) return false;
  int value = 0;
  for (const char* at = digits; *at != '\0'; ++at) {
    if (*at < '0' || *at > '9') return false;
    const int digit = *at - '0';
    // untrusted size: no descriptor has a number above INT_MAX; tested
    // before the step that would pass it, at any width of int.
    if (value > (INT_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  fd = value;
  return true;
}

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

bool held(int fd) {
  return fcntl(fd, F_GETFL) >= 0;
}

// A stream over the descriptor itself, when it is open in the direction of
// `mode`.
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

// False for a name the program cannot reach on its own (WASI without a
// working directory); the kernel decides everything else.
bool reachable(const char* name) {
#if defined(__wasi__)
  return !(no_working_directory && name[0] != '/');
#else
  (void)name;
  return true;
#endif
}

}  // namespace

#endif

namespace {

constexpr int kStandardDescriptors = 3;

int fd_of(std::FILE* stream) {
  return WAV2IMA_POSIX(fileno)(stream);
}

int open_null() {
  return WAV2IMA_POSIX(open)(kNullDevice, kNullFlags);
}

bool status_of(std::FILE* stream, FileStatus& status) {
  return stream != nullptr && status_of(fd_of(stream), status);
}

}  // namespace

FileName take_name(const char* name) {
  const int descriptor = descriptor_named(name);
  return FileName{name, descriptor, descriptor >= 0 && held(descriptor)};
}

void prepare_process() {
  // Each open takes the lowest free number: while that is a standard one, it
  // was closed and now holds the null device.
  for (int fd = open_null(); fd >= 0; fd = open_null()) {
    if (fd >= kStandardDescriptors) {
      (void)WAV2IMA_POSIX(close)(fd);
      break;
    }
  }
#if defined(__wasi__)
  // A host that gives the program the whole file system names where it
  // starts, as a shell does (empty when that is gone); one that gives it a
  // folder of its own (the page) names nothing, and names stay relative to
  // that folder.
  const char* directory = std::getenv("PWD");
  if (directory != nullptr) no_working_directory = directory[0] != '/' || chdir(directory) != 0;
#endif
}

namespace {

std::FILE* failed(int error) {
  errno = error;
  return nullptr;
}

}  // namespace

std::FILE* open_input(const FileName& file) {
  if (file.descriptor >= 0) {
    return file.given ? stream_of_descriptor(file.descriptor, "rb") : failed(EBADF);
  }
  if (file.name == nullptr || !reachable(file.name)) return failed(ENOENT);
  std::FILE* input = std::fopen(file.name, "rb");
  FileStatus status;
  if (status_of(input, status) && status.kind == kDirectory) {
    (void)std::fclose(input);
    return failed(EISDIR);
  }
  return input;
}

std::FILE* open_output(const FileName& file) {
  if (file.descriptor >= 0) {
    return file.given ? stream_of_descriptor(file.descriptor, "wb") : failed(EBADF);
  }
  if (file.name == nullptr || !reachable(file.name)) return failed(ENOENT);
  const int fd = WAV2IMA_POSIX(open)(file.name, kOutputFlags, kOutputMode);
  if (fd < 0) return nullptr;
  std::FILE* output = WAV2IMA_POSIX(fdopen)(fd, "wb");
  if (output == nullptr) (void)WAV2IMA_POSIX(close)(fd);
  return output;
}

int truncate_output(const FileName& file, std::FILE* output) {
  if (file.descriptor >= 0) return 0;
  FileStatus status;
  if (!status_of(output, status)) return -1;
  if (status.kind != kRegular) return 0;
  return truncate_fd(fd_of(output)) == 0 ? 0 : -1;
}

FileIdentity identity_of(std::FILE* stream) {
  FileStatus status;
  return status_of(stream, status) ? status.identity : FileIdentity{};
}

FileIdentity identity_of(const FileName& file) {
  FileStatus status;
  return file.given && status_of(file.descriptor, status) ? status.identity : FileIdentity{};
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

std::int64_t regular_file_length(std::FILE* stream) {
  FileStatus status;
  if (!status_of(stream, status) || status.kind != kRegular || !status.length_vouched) {
    return kLengthUnknown;
  }
  const std::int64_t position = tell_stream(stream);
  if (position < 0) return kLengthUnknown;
  return position < status.length ? status.length - position : 0;
}

}  // namespace wav2ima
