// The test signals the benchmarks run over, made once per process.
#ifndef WAV2IMA_BENCH_SIGNAL_CACHE_H
#define WAV2IMA_BENCH_SIGNAL_CACHE_H

#include <cstdint>
#include <vector>

#include "adpcm/stream_format.h"
#include "tools/signals.h"

namespace wav2ima {

inline constexpr std::int64_t kFrames = 1 << 20;  // about 24 s of audio, 4 MiB
inline const char* const kKinds[] = {"silence", "noise", "sweep"};

// The frames of signal `kind` (an index into kKinds), 16-bit stereo PCM.
inline const std::vector<unsigned char>& signal_bytes(int kind) {
  static std::vector<unsigned char> cache[3];
  auto& bytes = cache[kind];
  if (bytes.empty()) {
    bytes.resize(static_cast<std::size_t>(kFrames * kBytesPerFrame));
    Generator g{kKinds[kind], static_cast<std::uint64_t>(kFrames)};
    next_frame_bytes(g, bytes.data(), static_cast<std::uint64_t>(kFrames));
  }
  return bytes;
}

}  // namespace wav2ima

#endif  // WAV2IMA_BENCH_SIGNAL_CACHE_H
