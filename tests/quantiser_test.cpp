// The fast encoder against the rule it is built from, for every state and
// difference that 16-bit samples can produce.
#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

#include "adpcm/encoder.h"
#include "adpcm/quantiser.h"

using namespace wav2ima;

namespace {

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
        const int plain = encode_sample_plain(start + diff, plain_predictor, plain_index);
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
