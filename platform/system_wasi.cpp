// WASI: a host gives the program no working directory of its own and no
// signals, and reports a file that makes its bytes as they are read as no
// regular file.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/messages.h"
#include "platform/system.h"

namespace wav2ima {

namespace {

// A host that names a working directory the program cannot enter (it was
// deleted) leaves it none: a relative name names nothing, as the kernel
// finds nothing there, where the C library would take it from the root.
bool no_working_directory = false;

}  // namespace

namespace {

// WASI has no folder for temporary files: the scratch bytes stay in memory,
// a stream over a buffer that grows as it is written.
struct Scratch {
  char* bytes;
  std::size_t size;
  std::size_t capacity;
  std::size_t at;
};

ssize_t read_scratch(void* cookie, char* into, std::size_t count) {
  auto& scratch = *static_cast<Scratch*>(cookie);
  const std::size_t n = std::min(count, scratch.size - std::min(scratch.at, scratch.size));
  std::memcpy(into, scratch.bytes + scratch.at, n);
  scratch.at += n;
  return static_cast<ssize_t>(n);
}

ssize_t write_scratch(void* cookie, const char* from, std::size_t count) {
  auto& scratch = *static_cast<Scratch*>(cookie);
  if (count > SIZE_MAX - scratch.at) {
    errno = EFBIG;
    return -1;
  }
  const std::size_t end = scratch.at + count;
  if (end > scratch.capacity) {
    const std::size_t capacity = std::max(end, 2 * scratch.capacity);
    char* grown = static_cast<char*>(std::realloc(scratch.bytes, capacity));
    if (grown == nullptr) {
      errno = ENOMEM;
      return -1;
    }
    scratch.bytes = grown;
    scratch.capacity = capacity;
  }
  if (scratch.at > scratch.size)
    std::memset(scratch.bytes + scratch.size, 0, scratch.at - scratch.size);
  std::memcpy(scratch.bytes + scratch.at, from, count);
  scratch.at = end;
  scratch.size = std::max(scratch.size, end);
  return static_cast<ssize_t>(count);
}

int seek_scratch(void* cookie, off_t* offset, int whence) {
  auto& scratch = *static_cast<Scratch*>(cookie);
  const off_t base = whence == SEEK_SET   ? 0
                     : whence == SEEK_CUR ? static_cast<off_t>(scratch.at)
                                          : static_cast<off_t>(scratch.size);
  if (*offset < -base) {
    errno = EINVAL;
    return -1;
  }
  scratch.at = static_cast<std::size_t>(base + *offset);
  *offset = static_cast<off_t>(scratch.at);
  return 0;
}

int close_scratch(void* cookie) {
  auto* scratch = static_cast<Scratch*>(cookie);
  std::free(scratch->bytes);
  std::free(scratch);
  return 0;
}

}  // namespace

std::FILE* open_scratch_stream() {
  auto* scratch = static_cast<Scratch*>(std::calloc(1, sizeof(Scratch)));
  if (scratch == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::FILE* stream =
      fopencookie(scratch, "w+b",
                  cookie_io_functions_t{read_scratch, write_scratch, seek_scratch, close_scratch});
  if (stream == nullptr) std::free(scratch);
  return stream;
}

bool file_system_vouches_for_length(int /*fd*/) {
  return true;
}

void widen_pipe(int /*fd*/) {}

void enter_working_directory() {
  // A host that gives the program the whole file system names where it
  // starts, as a shell does (empty when that is gone); one that gives it a
  // folder of its own (the page) names nothing, and names stay relative to
  // that folder.
  const char* directory = std::getenv("PWD");
  if (directory != nullptr) no_working_directory = directory[0] != '/' || chdir(directory) != 0;
}

bool reachable(const char* name) {
  return !(no_working_directory && name[0] != '/');
}

// No signal stops the program: a reader that has gone is an error like any
// other.
void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count) {
  write_pieces(fileno(stream), pieces, count);
}

}  // namespace wav2ima
