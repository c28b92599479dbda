#include "app/marks.h"

#include <algorithm>
#include <cinttypes>

namespace wav2ima {

namespace {

constexpr std::uint64_t kNever = UINT64_MAX;

// The first frame after `frame` that takes a mark.
std::uint64_t mark_after(const Marker& marker, std::uint64_t frame) {
  std::uint64_t next = kNever;
  if (marker.every > 0) next = (frame / marker.every + 1) * marker.every;
  if (marker.loop.found && marker.loop.start > frame)
    next = std::min<std::uint64_t>(next, marker.loop.start);
  return next;
}

int write_mark(Marker& marker) {
  ++marker.marks;
  const ImaPlayer& state = marker.player;
  return std::fprintf(marker.lines, "%" PRIu64 " %d %u %d %u\n", marker.frames, state.predictor[0],
                      unsigned{state.step_index[0]}, state.predictor[1],
                      unsigned{state.step_index[1]}) < 0
             ? -1
             : 0;
}

}  // namespace

void start_marks(Marker& marker, std::uint32_t every, const Loop& loop, std::FILE* lines) {
  marker = Marker{every, loop, {}, 0, 0, 0, lines};
  ima_player_reset(&marker.player);
}

void set_loop(Marker& marker, const Loop& loop) {
  marker.loop = loop;
}

int follow_stream(Marker& marker, const unsigned char* stream, std::size_t count) {
  std::size_t at = 0;
  while (at < count) {
    if (marker.frames == marker.next) {
      if (write_mark(marker) != 0) return -1;
      marker.next = mark_after(marker, marker.frames);
    }
    const std::size_t run =
        static_cast<std::size_t>(std::min<std::uint64_t>(count - at, marker.next - marker.frames));
    ima_player_skip(&marker.player, stream + at, run);
    marker.frames += run;
    at += run;
  }
  return 0;
}

int finish_marks(Marker& marker) {
  if (marker.marks == 0 && write_mark(marker) != 0) return -1;
  if (!marker.loop.found) return 0;
  return std::fprintf(marker.lines, "loop %" PRIu32 " %" PRIu64 "\n", marker.loop.start,
                      marker.loop.end) < 0
             ? -1
             : 0;
}

bool loop_fits(const Marker& marker) {
  return !marker.loop.found || marker.loop.end <= marker.frames;
}

int write_marks_as_c(std::FILE* lines, std::FILE* output) {
  if (std::fseek(lines, 0, SEEK_SET) != 0) return -1;
  std::uint64_t frame = 0;
  int left = 0;
  int right = 0;
  unsigned left_index = 0;
  unsigned right_index = 0;
  while (std::fscanf(lines, "%" SCNu64 " %d %u %d %u\n", &frame, &left, &left_index, &right,
                     &right_index) == 5) {
    if (std::fprintf(output, "{%" PRIu64 "UL, {{%d, %d}, {%u, %u}}},\n", frame, left, right,
                     left_index, right_index) < 0) {
      return -1;
    }
  }
  return std::ferror(lines) != 0 || std::ferror(output) != 0 ? -1 : 0;
}

}  // namespace wav2ima
