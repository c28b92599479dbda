#include "platform/pipe_view.h"

#include "platform/stream_io.h"

// The view needs a C library that lets a program make a stream of its own
// functions: fopencookie (glibc, musl) or funopen (macOS, the BSDs, libbsd),
// as the build found them.
#if defined(WAV2IMA_HAVE_FOPENCOOKIE) || defined(WAV2IMA_HAVE_FUNOPEN)
#define WAV2IMA_PIPE_VIEW 1
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace wav2ima {

#if defined(WAV2IMA_PIPE_VIEW)

namespace {

// The most bytes taken from the pipe at once, in buffers. One read per
// 64 KiB wakes the writer so often that the pipe cost half again the time of
// the same file; four buffers a read brought it near the file's time.
constexpr std::size_t kBlockBuffers = 4;
// The format chunk's test reads 16 bytes and may step back up to 15.
constexpr std::size_t kLookBack = 64;

struct PipeInput {
  std::FILE* source;
  int fd;
  std::int64_t position;  // the offset the reader is at
  std::int64_t received;  // bytes taken from the pipe so far
  bool ended;             // the pipe has reached its end
  std::size_t block;      // the most bytes taken from the pipe at once
  std::size_t size;       // of history
  // The byte at offset o, for received - size <= o < received, is
  // history[o % size].
  unsigned char* history;
};

// The recent past kept for moving back. A read takes a block from the pipe
// only once the library has used up the bytes before it, and hands the
// library a buffer of it at once: what arrived is at most a block less a
// buffer ahead of the library's buffer, which holds at most a buffer. For a
// move outside that buffer, the library refills from a buffer boundary up to
// a buffer before the offset it was asked for, itself up to a look-back
// before the library's buffer.
std::size_t history_size(std::size_t buffer_size) {
  return kBlockBuffers * buffer_size + buffer_size + kLookBack;
}

std::size_t slot_of(const PipeInput& pipe, std::int64_t offset) {
  return static_cast<std::size_t>(offset) % pipe.size;
}

// Takes up to a block from the pipe into the history. Returns the count, 0 at
// the end of the pipe (then `ended` is set), -1 on an error.
ssize_t receive(PipeInput& pipe) {
  const std::size_t slot = slot_of(pipe, pipe.received);
  const std::size_t count = std::min(pipe.block, pipe.size - slot);
  ssize_t got = 0;
  do {
    got = read(pipe.fd, pipe.history + slot, count);
  } while (got < 0 && errno == EINTR);
  if (got == 0) pipe.ended = true;
  if (got > 0) pipe.received += got;
  return got;
}

// Serves up to `size` bytes from the reader's offset. Returns the count, 0
// at the end of the pipe, -1 on an error.
ssize_t read_view(PipeInput& pipe, char* buffer, std::size_t size) {
  // Nothing to replay: take more from the pipe. Bytes a forward move stepped
  // over pass through the history; those beyond it are replayed from there.
  while (pipe.position >= pipe.received) {
    if (pipe.ended) return 0;
    if (receive(pipe) < 0) return -1;
  }
  const std::size_t slot = slot_of(pipe, pipe.position);
  const auto available = static_cast<std::uint64_t>(pipe.received - pipe.position);
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>({available, size, pipe.size - slot}));
  std::memcpy(buffer, pipe.history + slot, count);
  pipe.position += static_cast<std::int64_t>(count);
  return static_cast<ssize_t>(count);
}

int drain(PipeInput& pipe) {
  while (!pipe.ended) {
    if (receive(pipe) < 0) return -1;
  }
  return 0;
}

// Moves the reader to `offset` from `whence`. 0 with `target` set to the new
// offset, or -1 with errno set.
int seek_view(PipeInput& pipe, std::int64_t offset, int whence, std::int64_t& target) {
  std::int64_t base = 0;
  if (whence == SEEK_CUR) base = pipe.position;
  if (whence == SEEK_END) {
    if (drain(pipe) != 0) return -1;
    base = pipe.received;
  }
  // untrusted size: the walk's targets are checked offsets; anything that
  // would overflow or fall before the start is refused.
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
      base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  target = base + offset;
  if (target < pipe.received - static_cast<std::int64_t>(pipe.size)) {
    errno = ESPIPE;  // forgotten already, as for the pipe itself
    return -1;
  }
  pipe.position = target;
  return 0;
}

int close_view(void* cookie) {
  auto* pipe = static_cast<PipeInput*>(cookie);
  const int result = std::fclose(pipe->source);
  std::free(pipe->history);
  std::free(pipe);
  return result;
}

#if defined(WAV2IMA_HAVE_FOPENCOOKIE)

// glibc and musl: the stream's functions take sizes and a pointer to the
// offset. (The other side is funopen's.)
ssize_t cookie_read(void* cookie, char* buffer, std::size_t size) {
  return read_view(*static_cast<PipeInput*>(cookie), buffer, size);
}

int cookie_seek(void* cookie, off_t* offset, int whence) {
  std::int64_t target = 0;
  if (seek_view(*static_cast<PipeInput*>(cookie), *offset, whence, target) != 0) return -1;
  *offset = static_cast<off_t>(target);
  return 0;
}

std::FILE* stream_of_view(PipeInput* pipe) {
  return fopencookie(pipe, "rb",
                     cookie_io_functions_t{cookie_read, nullptr, cookie_seek, close_view});
}

#else

// macOS, the BSDs and libbsd: the stream's functions take int sizes and
// return the new offset. (The other side is fopencookie's.)
int funopen_read(void* cookie, char* buffer, int size) {
  return static_cast<int>(
      read_view(*static_cast<PipeInput*>(cookie), buffer, static_cast<std::size_t>(size)));
}

off_t funopen_seek(void* cookie, off_t offset, int whence) {
  std::int64_t target = 0;
  if (seek_view(*static_cast<PipeInput*>(cookie), offset, whence, target) != 0) return -1;
  return static_cast<off_t>(target);
}

std::FILE* stream_of_view(PipeInput* pipe) {
  return funopen(pipe, funopen_read, nullptr, funopen_seek, close_view);
}

#endif

// A new stream over the pipe's bytes, which takes the input over.
std::FILE* pipe_view(std::FILE* input, std::size_t buffer_size) {
  // malloc, not new: the programs need nothing of the C++ runtime library.
  auto* pipe = static_cast<PipeInput*>(std::malloc(sizeof(PipeInput)));
  if (pipe == nullptr) return nullptr;
  const std::size_t size = history_size(buffer_size);
  *pipe = PipeInput{.source = input,
                    .fd = fileno(input),
                    .position = 0,
                    .received = 0,
                    .ended = false,
                    .block = kBlockBuffers * buffer_size,
                    .size = size,
                    .history = static_cast<unsigned char*>(std::malloc(size))};
#if defined(F_SETPIPE_SZ)
  // Room for the writer to run blocks ahead (Linux alone can be asked).
  // Refused (over the system's pipe-max-size, or not a pipe at all), it
  // costs only speed.
  constexpr int kPipeCapacity = 1 << 20;
  (void)fcntl(pipe->fd, F_SETPIPE_SZ, kPipeCapacity);
#endif
  std::FILE* view = pipe->history != nullptr ? stream_of_view(pipe) : nullptr;
  if (view == nullptr) {
    std::free(pipe->history);
    std::free(pipe);
  }
  return view;
}

}  // namespace

bool pipes_readable_as_files() {
  return true;
}

#else

namespace {

// Without either call (Windows) the input is kept as it is, and the walk's
// first seek fails on a pipe.
std::FILE* pipe_view(std::FILE* input, std::size_t /*buffer_size*/) {
  return input;
}

}  // namespace

bool pipes_readable_as_files() {
  return false;
}

#endif

std::FILE* seekable_input(std::FILE* input, char* buffer, std::size_t size) {
  // A file the program was given part-read is read from where it stands,
  // as a pipe is.
  if (tell_stream(input) == 0) return input;
  std::FILE* view = pipe_view(input, size);
  // Without a buffer of its own a stream keeps the library's default size,
  // whatever size is asked for; set before the stream is used at all.
  if (view != nullptr && view != input) (void)std::setvbuf(view, buffer, _IOFBF, size);
  return view;
}

}  // namespace wav2ima
