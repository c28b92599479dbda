// Deterministic 16-bit stereo test signals (sweep, noise, square, silence),
// in integer arithmetic only: the same samples on every machine. Used by
// wavgen and the benchmarks.
#ifndef WAV2IMA_TOOLS_SIGNALS_H
#define WAV2IMA_TOOLS_SIGNALS_H

#include <cstdint>

struct Generator {
  const char* kind;
  std::uint64_t frames;  // the whole signal's length: a sweep spans it
  std::uint64_t frame = 0;
  std::uint32_t phase[2] = {0, 0};
  std::uint32_t noise = 0x2545F491;
};

// True for "sweep", "noise", "square" and "silence".
bool known_kind(const char* kind);

// The next frame's left and right samples.
void next_frame(Generator& g, std::int16_t* out);

// The next `frames` frames as interleaved 16-bit little-endian bytes.
void next_frame_bytes(Generator& g, unsigned char* bytes, std::uint64_t frames);

#endif  // WAV2IMA_TOOLS_SIGNALS_H
