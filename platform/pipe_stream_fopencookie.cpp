// glibc, musl and WASI's C library: fopencookie, whose functions take sizes
// and a pointer to the offset.
#include <sys/types.h>

#include <cstdio>

#include "platform/pipe_stream.h"
#include "platform/pipe_view.h"

namespace wav2ima {

namespace {

ssize_t cookie_read(void* view, char* buffer, std::size_t size) {
  return read_view(view, buffer, size);
}

int cookie_seek(void* view, off_t* offset, int whence) {
  std::int64_t target = 0;
  if (seek_view(view, *offset, whence, target) != 0) return -1;
  *offset = static_cast<off_t>(target);
  return 0;
}

}  // namespace

std::FILE* stream_of_view(void* view) {
  return fopencookie(view, "rb",
                     cookie_io_functions_t{cookie_read, nullptr, cookie_seek, close_view});
}

bool pipes_readable_as_files() {
  return true;
}

}  // namespace wav2ima
