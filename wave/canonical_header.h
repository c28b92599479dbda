// The canonical 44-byte header of a 16-bit stereo 44100 Hz PCM WAV file:
//
//   offset  size  field
//        0     4  "RIFF"
//        4     4  RIFF size = 36 + n
//        8     4  "WAVE"
//       12     4  "fmt "
//       16     4  16
//       20    16  format 1, 2 channels, 44100 Hz, 176400 bytes/s, align 4, 16 bits
//       36     4  "data"
//       40     4  n, the data size
//       44     n  samples, left then right, 16-bit little-endian
#ifndef WAV2IMA_WAVE_CANONICAL_HEADER_H
#define WAV2IMA_WAVE_CANONICAL_HEADER_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

constexpr int kCanonicalHeaderSize = 44;

// Writes the header for `data_size` bytes of samples to the borrowed output.
// A size too large for a 32-bit RIFF size is written as 0xFFFFFFFF in both
// size fields (length unknown), which the chunk walk reads to the end.
// Returns 0, or -1 when the write fails.
int write_canonical_header(std::FILE* output, std::uint64_t data_size);

}  // namespace wav2ima

#endif  // WAV2IMA_WAVE_CANONICAL_HEADER_H
