// Applying one code to one channel: what the encoder does after choosing a
// code, and all a reader of the stream does. Both call this one function, so
// the encoder's predictor and what a player hears cannot drift apart.
#ifndef WAV2IMA_ADPCM_RECONSTRUCT_H
#define WAV2IMA_ADPCM_RECONSTRUCT_H

#include <algorithm>
#include <cstdint>

#include "adpcm/tables.h"

namespace wav2ima {

// Moves the predictor by the entry's delta, clamped to the 16-bit range, and
// sets the step index that follows. Returns the entry's code.
inline int apply_code_step(const CodeStep& step, std::int32_t& predictor,
                           std::int32_t& step_index) {
  std::int32_t next = predictor + step.delta;
  // Leaving the 16-bit range is rare, so a branch, which the core predicts
  // and runs ahead of, keeps the clamp off the serial chain.
  if (static_cast<std::uint32_t>(next - kSampleMin) > kSampleMax - kSampleMin) [[unlikely]] {
    next = std::clamp(next, kSampleMin, kSampleMax);
  }
  predictor = next;
  step_index = step.next_step_index;
  return step.code;
}

// Applies `code` (0..15) to a channel whose state is within its invariants.
inline void apply_code(int code, std::int32_t& predictor, std::int32_t& step_index) {
  (void)apply_code_step(kCodeSteps.entry[step_index][code], predictor, step_index);
}

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_RECONSTRUCT_H
