#include "adpcm/nearest.h"

namespace wav2ima {

int nearest_code_at_rail(std::int32_t sample, std::int32_t predictor, std::int32_t step_index) {
  const std::int32_t diff = sample - predictor;
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  const CodeStep* steps = kCodeSteps.entry[step_index];
  const auto miss = [&](int code) {
    return std::abs(sample - clamp_sample(predictor + steps[code].delta));
  };
  int code = below | sign;
  // Ties to the larger code: it keeps the step up.
  if (below < kMagnitudeMax && miss(code + 1) <= miss(code)) code += 1;
  // A move away from the sample that the rail holds nearer is never taken:
  // it lets the step fall just before the next swing.
  // Past a rail, every larger code lands on the rail too.
  const std::int32_t reached = predictor + steps[code].delta;
  if (reached != clamp_sample(reached)) code = kMagnitudeMax | (code & kSignBit);
  return code;
}

}  // namespace wav2ima
