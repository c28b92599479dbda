// Bytes that can only be read forward (a pipe), served as a regular file's
// are: from a ring of the recent past, portable C++ on every system.
//
// The chunk walk seeks: to offset 0 at the start, forward over chunks it
// steps past, back a few bytes after a format chunk shorter than the bytes it
// tests, and to the end to tell whether the input ends at a chunk boundary.
//
//   move to an offset       how it is served
//   -------------------     -------------------------------------------
//   ahead of what arrived   the bytes between are read and discarded when
//                           the next read comes (past the end: that read
//                           finds the end, as on a file)
//   recently passed         replayed from the bytes kept of the recent past
//   the end (SEEK_END)      the rest of the source is read and discarded
//   further back            fails with ESPIPE, as a seek on a pipe would
#ifndef WAV2IMA_PLATFORM_REPLAY_H
#define WAV2IMA_PLATFORM_REPLAY_H

#include <cstddef>
#include <cstdint>

namespace wav2ima {

struct ReplaySource {
  // Up to `size` bytes into `into`: the count, 0 at the end, -1 on an error.
  std::ptrdiff_t (*read)(void* context, unsigned char* into, std::size_t size);
  void* context;
};

struct Replay {
  ReplaySource source;
  std::int64_t position;  // the offset the reader is at
  std::int64_t received;  // bytes taken from the source so far
  bool ended;             // the source has reached its end
  std::size_t block;      // the most bytes taken from the source at once
  std::size_t size;       // of history
  // The byte at offset o, for received - size <= o < received, is
  // history[o % size].
  unsigned char* history;
};

// Starts serving `source` from offset 0 to a stream whose buffer holds
// `buffer_size` bytes: the history kept is sized to what such a stream
// moves back over. 0, or -1 when its memory cannot be had.
int start_replay(Replay& replay, ReplaySource source, std::size_t buffer_size);

// Frees the history; the source is the caller's.
void end_replay(Replay& replay);

// Up to `size` bytes from the reader's offset: the count, 0 at the end, -1
// on the source's error.
std::ptrdiff_t replay_read(Replay& replay, char* buffer, std::size_t size);

// Moves the reader to `offset` from `whence` (SEEK_SET, SEEK_CUR, SEEK_END):
// 0 with `target` set to the new offset, or -1 with errno set (EINVAL for an
// offset before 0 or past the largest, ESPIPE for one forgotten).
int replay_seek(Replay& replay, std::int64_t offset, int whence, std::int64_t& target);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_REPLAY_H
