// macOS, the BSDs and libbsd: funopen, whose functions take int sizes and
// return the new offset.
#include <sys/types.h>

#include <cstdio>

#include "platform/pipe_stream.h"
#include "platform/pipe_view.h"

namespace wav2ima {

namespace {

int funopen_read(void* view, char* buffer, int size) {
  return static_cast<int>(read_view(view, buffer, static_cast<std::size_t>(size)));
}

off_t funopen_seek(void* view, off_t offset, int whence) {
  std::int64_t target = 0;
  if (seek_view(view, offset, whence, target) != 0) return -1;
  return static_cast<off_t>(target);
}

}  // namespace

std::FILE* stream_of_view(void* view) {
  return funopen(view, funopen_read, nullptr, funopen_seek, close_view);
}

bool pipes_readable_as_files() {
  return true;
}

}  // namespace wav2ima
