// Windows: the C runtime's descriptors over the system's handles. Outputs
// are opened by name alone, so none appends; no name names a descriptor; no
// signal stops a program whose reader has gone; and the C runtime makes no
// stream of a program's own functions, so a pipe is read as it is.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/pipe_view.h"
#include "platform/stream_io.h"
#include "platform/system.h"

namespace wav2ima {

namespace {

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

}  // namespace

int seek_stream(std::FILE* stream, std::int64_t offset, int whence) {
  return _fseeki64(stream, offset, whence) == 0 ? 0 : -1;
}

std::int64_t tell_stream(std::FILE* stream) {
  return _ftelli64(stream);
}

std::int64_t written_end(std::FILE* stream) {
  return _lseeki64(_fileno(stream), 0, SEEK_CUR);
}

int descriptor_of(std::FILE* stream) {
  return _fileno(stream);
}

int open_null_device() {
  return _open("NUL", _O_RDWR | _O_BINARY);
}

int open_input_descriptor(const char* name) {
  return _open(name, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int open_output_descriptor(const char* name) {
  return _open(name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

std::FILE* stream_of_opened(int fd, const char* mode) {
  return _fdopen(fd, mode);
}

int close_descriptor(int fd) {
  return _close(fd);
}

int truncate_descriptor(int fd) {
  return _chsize_s(fd, 0) == 0 ? 0 : -1;
}

bool status_of(int fd, FileStatus& status) {
  struct _stat64 stat_result;
  if (fd < 0 || _fstat64(fd, &stat_result) != 0) return false;
  const auto type = stat_result.st_mode & _S_IFMT;
  status.kind = type == _S_IFDIR ? kDirectory : type == _S_IFREG ? kRegular : kOtherKind;
  status.length = stat_result.st_size;
  status.length_vouched = status.kind != kRegular || file_system_vouches_for_length(fd);
  status.identity = FileIdentity{};
  identify(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), status.identity);
  status.identity.stored = status.kind == kRegular;
  status.identity.terminal = _isatty(fd) != 0;
  return true;
}

bool file_system_vouches_for_length(int /*fd*/) {
  return true;
}

bool appends(std::FILE* /*stream*/) {
  return false;
}

bool descriptors_have_names() {
  return false;
}

bool held(int /*fd*/) {
  return false;
}

std::FILE* stream_of_descriptor(int /*fd*/, const char* /*mode*/) {
  errno = EBADF;
  return nullptr;
}

std::ptrdiff_t read_descriptor(int fd, unsigned char* into, std::size_t size) {
  const auto count = static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX));
  return _read(fd, into, count);
}

// In the user's folder for temporary files: the C runtime's tmpfile writes
// to the drive's root, which a user may not. "T" keeps it in memory where it
// can, "D" deletes it at close.
std::FILE* open_scratch_stream() {
  char folder[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "ima", 0, name) == 0) {
    errno = ENOENT;
    return nullptr;
  }
  return std::fopen(name, "w+bTD");
}

void widen_pipe(int /*fd*/) {}

void enter_working_directory() {}

bool reachable(const char* /*name*/) {
  return true;
}

std::FILE* stream_of_view(void* /*view*/) {
  return nullptr;
}

bool pipes_readable_as_files() {
  return false;
}

// No gathering write: the pieces go through a buffer on the stack.
void write_pieces(int fd, const MessagePiece* pieces, std::size_t count) {
  char buffer[4096];
  std::size_t used = 0;
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

void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count) {
  write_pieces(_fileno(stream), pieces, count);
}

}  // namespace wav2ima
