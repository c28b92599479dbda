// The step-size and index-adjustment tables of the IMA ADPCM standard, and
// the tables derived from them that the fast encoder and the reader use.
#ifndef WAV2IMA_ADPCM_TABLES_H
#define WAV2IMA_ADPCM_TABLES_H

#include <array>
#include <cstdint>

#include "adpcm/encoder.h"

constexpr int kCodes = 16;

// Step size for each step index 0..kStepIndexMax.
extern const std::int32_t kStepTable[kStepIndexMax + 1];

// Step index adjustment for each code magnitude 0..7.
extern const std::int32_t kIndexTable[8];

// ceil(2^34 / step) for each step index: (d * it) >> 31 equals the truncated
// quotient 8 * d / step for every d in 0..65535 (proved by a test).
extern const std::array<std::uint32_t, kStepIndexMax + 1> kStepReciprocal;

// What one code does to a channel: the signed predictor move
// ((2 * magnitude + 1) * step / 8, negative when bit 3 is set) and the step
// index that follows, already clamped to 0..kStepIndexMax; and the code.
struct CodeStep {
  std::int32_t delta;
  std::uint16_t next_step_index;
  std::uint16_t code;
};

// By step index and code: what a reader does with each code.
struct CodeStepTable {
  CodeStep entry[kStepIndexMax + 1][kCodes];
};
extern const CodeStepTable kCodeSteps;

// By step index, sign of the difference (16 = below the predictor) and the
// clamped quotient 0..15: the entry of kCodeSteps for the code the encoder
// chooses, so choosing a code costs one load and no branch.
constexpr int kQuotients = 16;
struct QuantiserTable {
  CodeStep entry[kStepIndexMax + 1][2 * kQuotients];
};
extern const QuantiserTable kQuantiserSteps;

#endif  // WAV2IMA_ADPCM_TABLES_H
