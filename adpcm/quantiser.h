// Choosing a code for one sample: the rule as the standard gives it, written
// once, and the fast path that the tables and the reciprocals make of it. A
// test proves the two equal for every state and difference.
#ifndef WAV2IMA_ADPCM_QUANTISER_H
#define WAV2IMA_ADPCM_QUANTISER_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "adpcm/reconstruct.h"
#include "adpcm/tables.h"

namespace wav2ima {

// The rule: the code for the difference `diff` (sample - predictor, at most
// 65535 either way) at `step_index`, by one division, and what that code does
// to the channel. The predictor's clamp to 16 bits comes after.
constexpr CodeStep quantise_plain(std::int32_t diff, std::int32_t step_index) {
  // |diff| <= 65535, so the product stays within +-524280.
  const std::int32_t quotient = std::clamp(diff * 8 / kStepTable[step_index], -15, 15);
  const std::int32_t m = quotient < 0 ? -quotient : quotient;
  // Truncation toward zero maps m = 0 to magnitude 0 as well; a zero
  // quotient keeps the sign clear even below the predictor.
  const std::int32_t magnitude = (m - 1) / 2;
  return code_step(step_index, magnitude | (quotient < 0 ? kSignBit : 0));
}

// The plain design's whole step for one sample: returns the code and updates
// the channel.
inline int encode_sample_plain(std::int32_t sample, std::int32_t& predictor,
                               std::int32_t& step_index) {
  return apply_code_step(quantise_plain(sample - predictor, step_index), predictor, step_index);
}

// The row of the quantiser table is ready before the quotient; kept opaque,
// the compiler cannot re-associate its sum after the quotient, so the load
// adds only the quotient. A hint that GCC and clang take; others go without.
inline void keep_opaque(const CodeStep*& row) {
#if defined(__GNUC__)
  asm("" : "+r"(row));
#else
  (void)row;
#endif
}

// Out of line and cold, so the compiler keeps the clamp of a quotient above
// 15 a predicted branch instead of a conditional move on the serial chain.
[[gnu::noinline, gnu::cold]] inline std::uint64_t largest_quotient() {
  return kQuotients - 1;
}

// The fast path, the same result. The cost is the serial chain from one
// sample's predictor to the next, so the chain holds no division and no
// branch on the sign: the quotient comes from a per-step reciprocal, the
// code and its move from one table load.
inline int encode_sample_fast(std::int32_t sample, std::int32_t& predictor,
                              std::int32_t& step_index) {
  const std::int64_t diff = std::int64_t{sample} - predictor;
  // 0 or 1 without a branch: the sign is a coin toss on real audio.
  const auto below = static_cast<std::size_t>(static_cast<std::uint64_t>(diff) >> 63);
  const CodeStep* row = kQuantiserSteps.entry[step_index] + below * kQuotients;
  keep_opaque(row);
  const auto distance = static_cast<std::uint64_t>(std::abs(diff));
  // distance <= 65535 and the reciprocal < 2^32: the product fits in 64 bits.
  auto quotient =
      distance * kStepReciprocal[static_cast<std::size_t>(step_index)] >> kReciprocalShift;
  if (quotient >= kQuotients) [[unlikely]]
    quotient = largest_quotient();
  return apply_code_step(row[quotient], predictor, step_index);
}

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_QUANTISER_H
