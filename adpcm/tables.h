// The step-size and index-adjustment tables of the IMA ADPCM standard, what
// one code does to a channel, and the tables derived from them that the fast
// encoder and the reader use.
#ifndef WAV2IMA_ADPCM_TABLES_H
#define WAV2IMA_ADPCM_TABLES_H

#include <algorithm>
#include <array>
#include <cstdint>

#include "adpcm/stream_format.h"

namespace wav2ima {

constexpr int kCodes = 1 << kCodeBits;

// Step size for each step index 0..kStepIndexMax.
inline constexpr std::int32_t kStepTable[kStepIndexMax + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index adjustment for each code magnitude 0..7.
inline constexpr std::int32_t kIndexTable[kMagnitudeBits + 1] = {-1, -1, -1, -1, 2, 4, 6, 8};

// What one code does to a channel: the signed predictor move
// ((2 * magnitude + 1) * step / 8, negative when bit 3 is set) and the step
// index that follows, already clamped to 0..kStepIndexMax; and the code.
struct CodeStep {
  std::int32_t delta;
  std::uint16_t next_step_index;
  std::uint16_t code;
};

// The reconstruction: what `code` does at `step_index`, for the encoder after
// it chose the code and for every reader of the stream.
constexpr CodeStep code_step(std::int32_t step_index, int code) {
  const int magnitude = code & kMagnitudeBits;
  const std::int32_t delta = (2 * magnitude + 1) * kStepTable[step_index] / 8;
  const std::int32_t next = std::clamp(step_index + kIndexTable[magnitude], 0, kStepIndexMax);
  return {(code & kSignBit) != 0 ? -delta : delta, static_cast<std::uint16_t>(next),
          static_cast<std::uint16_t>(code)};
}

// ceil(2^34 / step) for each step index: (d * it) >> 31 equals the truncated
// quotient 8 * d / step for every d in 0..65535 (proved by a test).
constexpr int kReciprocalBits = 34;
constexpr int kReciprocalShift = kReciprocalBits - 3;  // the 3 bits of the factor 8
extern const std::array<std::uint32_t, kStepIndexMax + 1> kStepReciprocal;

// By step index and code: code_step for every state, for the reader.
struct CodeStepTable {
  CodeStep entry[kStepIndexMax + 1][kCodes];
};
extern const CodeStepTable kCodeSteps;

// By step index, sign of the difference (16 = below the predictor) and the
// clamped quotient 0..15: the code the encoder chooses and what it does, so
// that choosing a code costs one load and no branch.
constexpr int kQuotients = 16;
struct QuantiserTable {
  CodeStep entry[kStepIndexMax + 1][2 * kQuotients];
};
extern const QuantiserTable kQuantiserSteps;

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_TABLES_H
