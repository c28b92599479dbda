// Marks of the decoder's state as imaenc writes the stream: every N frames,
// always at frame 0, and at a loop's start, each the state a player reaches
// after that many stream bytes. They go out as text lines, one a mark,
// sorted by frame: "FRAME LEFT_PREDICTOR LEFT_INDEX RIGHT_PREDICTOR
// RIGHT_INDEX", then "loop START END" for a loop (END exclusive).
#ifndef WAV2IMA_APP_MARKS_H
#define WAV2IMA_APP_MARKS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "player/ima_player.h"

namespace wav2ima {

struct Loop {
  bool found;
  std::uint32_t start;
  std::uint64_t end;  // exclusive: a chunk's last frame plus 1 may be 2^32
};

struct Marker {
  std::uint32_t every;  // 0: no marks but frame 0's and the loop's
  Loop loop;
  ImaPlayer player;      // the state after the bytes followed
  std::uint64_t frames;  // the stream bytes followed
  std::uint64_t next;    // the next frame to mark
  std::uint64_t marks;   // lines written
  std::FILE* lines;
};

// Ready to follow a stream from its start, writing marks to `lines`.
void start_marks(Marker& marker, std::uint32_t every, const Loop& loop, std::FILE* lines);

// Sets the loop before any byte is followed (a sampler chunk before the
// audio).
void set_loop(Marker& marker, const Loop& loop);

// Follows `count` new stream bytes, writing the marks they pass. 0, or -1
// when a line could not be written.
int follow_stream(Marker& marker, const unsigned char* stream, std::size_t count);

// After the last byte: frame 0's mark for an empty stream, then the loop's
// line. 0, or -1 when a line could not be written.
int finish_marks(Marker& marker);

// True when the loop lies within the stream followed.
bool loop_fits(const Marker& marker);

// Reads the mark lines back from `lines`' start and writes them as C
// initializers of ImaPlayerMark, one a line. 0, or -1 on a failed read,
// write or a line that is not a mark's.
int write_marks_as_c(std::FILE* lines, std::FILE* output);

}  // namespace wav2ima

#endif  // WAV2IMA_APP_MARKS_H
