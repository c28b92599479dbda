#include "platform/replay.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace wav2ima {

namespace {

// The most bytes taken from the source at once, in buffers. One read per
// 64 KiB wakes a pipe's writer so often that the pipe cost half again the
// time of the same file; four buffers a read brought it near the file's time.
constexpr std::size_t kBlockBuffers = 4;
// The format chunk's test reads 16 bytes and may step back up to 15.
constexpr std::size_t kLookBack = 64;

// The recent past kept for moving back. A read takes a block from the source
// only once the stream has used up the bytes before it, and hands the stream
// a buffer of it at once: what arrived is at most a block less a buffer
// ahead of the stream's buffer, which holds at most a buffer. For a move
// outside that buffer, the stream refills from a buffer boundary up to a
// buffer before the offset it was asked for, itself up to a look-back
// before the stream's buffer.
std::size_t history_size(std::size_t buffer_size) {
  return kBlockBuffers * buffer_size + buffer_size + kLookBack;
}

std::size_t slot_of(const Replay& replay, std::int64_t offset) {
  return static_cast<std::size_t>(offset) % replay.size;
}

// Takes up to a block from the source into the history. Returns the count,
// 0 at the end of the source (then `ended` is set), -1 on an error.
std::ptrdiff_t receive(Replay& replay) {
  const std::size_t slot = slot_of(replay, replay.received);
  const std::size_t count = std::min(replay.block, replay.size - slot);
  const std::ptrdiff_t got =
      replay.source.read(replay.source.context, replay.history + slot, count);
  if (got == 0) replay.ended = true;
  if (got > 0) replay.received += got;
  return got;
}

int drain(Replay& replay) {
  while (!replay.ended) {
    if (receive(replay) < 0) return -1;
  }
  return 0;
}

}  // namespace

int start_replay(Replay& replay, ReplaySource source, std::size_t buffer_size) {
  const std::size_t size = history_size(buffer_size);
  // malloc, not new: the programs need nothing of the C++ runtime library.
  replay = Replay{.source = source,
                  .position = 0,
                  .received = 0,
                  .ended = false,
                  .block = kBlockBuffers * buffer_size,
                  .size = size,
                  .history = static_cast<unsigned char*>(std::malloc(size))};
  return replay.history != nullptr ? 0 : -1;
}

void end_replay(Replay& replay) {
  std::free(replay.history);
  replay.history = nullptr;
}

std::ptrdiff_t replay_read(Replay& replay, char* buffer, std::size_t size) {
  // Nothing to replay: take more from the source. Bytes a forward move
  // stepped over pass through the history; those beyond it are replayed
  // from there.
  while (replay.position >= replay.received) {
    if (replay.ended) return 0;
    if (receive(replay) < 0) return -1;
  }
  const std::size_t slot = slot_of(replay, replay.position);
  const auto available = static_cast<std::uint64_t>(replay.received - replay.position);
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>({available, size, replay.size - slot}));
  std::memcpy(buffer, replay.history + slot, count);
  replay.position += static_cast<std::int64_t>(count);
  return static_cast<std::ptrdiff_t>(count);
}

int replay_seek(Replay& replay, std::int64_t offset, int whence, std::int64_t& target) {
  std::int64_t base = 0;
  if (whence == SEEK_CUR) base = replay.position;
  if (whence == SEEK_END) {
    if (drain(replay) != 0) return -1;
    base = replay.received;
  }
  // untrusted size: the walk's targets are checked offsets; anything that
  // would overflow or fall before the start is refused.
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
      base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  target = base + offset;
  if (target < replay.received - static_cast<std::int64_t>(replay.size)) {
    errno = ESPIPE;  // forgotten already, as for a pipe itself
    return -1;
  }
  replay.position = target;
  return 0;
}

}  // namespace wav2ima
