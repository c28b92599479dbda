#include "platform/pipe_view.h"

#include <cstdlib>

#include "platform/pipe_stream.h"
#include "platform/replay.h"
#include "platform/stream_io.h"
#include "platform/system.h"

namespace wav2ima {

namespace {

struct PipeView {
  std::FILE* input;
  int fd;
  Replay replay;
};

std::ptrdiff_t read_pipe(void* context, unsigned char* into, std::size_t size) {
  return read_descriptor(static_cast<PipeView*>(context)->fd, into, size);
}

// A new stream over the pipe's bytes, which takes the input over.
std::FILE* pipe_view(std::FILE* input, std::size_t buffer_size) {
  auto* view = static_cast<PipeView*>(std::malloc(sizeof(PipeView)));
  if (view == nullptr) return nullptr;
  view->input = input;
  view->fd = descriptor_of(input);
  std::FILE* stream = nullptr;
  if (start_replay(view->replay, ReplaySource{read_pipe, view}, buffer_size) == 0) {
    stream = stream_of_view(view);
    if (stream == nullptr) end_replay(view->replay);
  }
  if (stream == nullptr) {
    std::free(view);
    return nullptr;
  }
  widen_pipe(view->fd);
  return stream;
}

}  // namespace

std::ptrdiff_t read_view(void* view, char* buffer, std::size_t size) {
  return replay_read(static_cast<PipeView*>(view)->replay, buffer, size);
}

int seek_view(void* view, std::int64_t offset, int whence, std::int64_t& target) {
  return replay_seek(static_cast<PipeView*>(view)->replay, offset, whence, target);
}

int close_view(void* view) {
  auto* pipe = static_cast<PipeView*>(view);
  const int result = std::fclose(pipe->input);
  end_replay(pipe->replay);
  std::free(pipe);
  return result;
}

std::FILE* seekable_input(std::FILE* input, char* buffer, std::size_t size) {
  // A file the program was given part-read is read from where it stands,
  // as a pipe is.
  if (tell_stream(input) == 0) return input;
  // Where no view can be made, a pipe is kept as it is, and the walk's
  // first seek fails on it.
  if (!pipes_readable_as_files()) return input;
  std::FILE* view = pipe_view(input, size);
  // Without a buffer of its own a stream keeps the library's default size,
  // whatever size is asked for; set before the stream is used at all.
  if (view != nullptr) (void)std::setvbuf(view, buffer, _IOFBF, size);
  return view;
}

}  // namespace wav2ima
