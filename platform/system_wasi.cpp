// WASI: a host gives the program no working directory of its own and no
// signals, and reports a file that makes its bytes as they are read as no
// regular file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/messages.h"
#include "platform/system.h"

namespace wav2ima {

namespace {

// A host that names a working directory the program cannot enter (it was
// deleted) leaves it none: a relative name names nothing, as the kernel
// finds nothing there, where the C library would take it from the root.
bool no_working_directory = false;

}  // namespace

// WASI has no folder for temporary files.
std::FILE* open_scratch_stream() {
  errno = ENOTSUP;
  return nullptr;
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
