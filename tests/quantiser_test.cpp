// The fast encoder against the plain arithmetic it replaces, for every state
// and difference that 16-bit samples can produce.
#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

#include "adpcm/encoder.h"
#include "adpcm/tables.h"

namespace {

// The plain design, kept here as the reference: one division per sample.
int plain_encode(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  const std::int32_t step = kStepTable[step_index];
  const std::int32_t q = std::clamp((sample - predictor) * 8 / step, -15, 15);
  const std::int32_t magnitude = ((q < 0 ? -q : q) - 1) / 2;
  const std::int32_t delta = (2 * magnitude + 1) * step / 8;
  predictor = std::clamp(q < 0 ? predictor - delta : predictor + delta, kSampleMin, kSampleMax);
  step_index = std::clamp(step_index + kIndexTable[magnitude], 0, kStepIndexMax);
  return magnitude | (q < 0 ? 8 : 0);
}

TEST(FastQuantiser, EqualsThePlainDivisionEverywhere) {
  long mismatches = 0;
  for (std::int32_t index = 0; index <= kStepIndexMax; ++index) {
    for (std::int32_t diff = -65535; diff <= 65535; ++diff) {
      // Both predictors that allow this difference at the edges of the range,
      // so the predictor clamps at both ends are reached.
      const std::int32_t low = std::max(kSampleMin, kSampleMin - diff);
      const std::int32_t high = std::min(kSampleMax, kSampleMax - diff);
      for (const std::int32_t start : {low, high}) {
        std::int32_t fast_predictor = start;
        std::int32_t fast_index = index;
        std::int32_t plain_predictor = start;
        std::int32_t plain_index = index;
        const int fast = encode_sample(start + diff, fast_predictor, fast_index);
        const int plain = plain_encode(start + diff, plain_predictor, plain_index);
        if (fast != plain || fast_predictor != plain_predictor || fast_index != plain_index) {
          if (++mismatches <= 5) {
            ADD_FAILURE() << "step index " << index << " difference " << diff << " predictor "
                          << start << ": code " << fast << " vs " << plain << ", predictor "
                          << fast_predictor << " vs " << plain_predictor << ", step index "
                          << fast_index << " vs " << plain_index;
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
