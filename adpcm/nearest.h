// The nearest code for a sample, and the better of the nearest codes once
// the next sample is counted too: the choices that need no search, inline
// so that a frame loop keeps the state in registers.
#ifndef WAV2IMA_ADPCM_NEAREST_H
#define WAV2IMA_ADPCM_NEAREST_H

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "adpcm/reconstruct.h"
#include "adpcm/tables.h"

namespace wav2ima {

constexpr int kMagnitudeMax = 7;

inline std::int32_t clamp_sample(std::int32_t value) {
  return std::clamp(value, kSampleMin, kSampleMax);
}

inline std::int64_t squared(std::int32_t value) {
  return std::int64_t{value} * value;
}

// The rule's magnitude for `distance` at `step_index`: the largest whose
// level lies at or below the distance (0 below the first level). The
// nearest level is this one or the next, away from the rails.
inline int magnitude_below(std::int32_t distance, std::int32_t step_index) {
  // distance <= 65535 and the reciprocal < 2^32: the product fits in 64 bits.
  const std::uint64_t quotient = static_cast<std::uint64_t>(distance) *
                                     kStepReciprocal[static_cast<std::size_t>(step_index)] >>
                                 kReciprocalShift;
  const auto clamped = static_cast<int>(std::min<std::uint64_t>(quotient, kQuotients - 1));
  return clamped == 0 ? 0 : (clamped - 1) / 2;
}

// By step index: the distances from which each larger magnitude lands at
// least as near as the one below it (ties to the larger), and the largest
// move, which tells when a rail may be in reach.
struct NearestRow {
  std::int32_t from[kMagnitudeMax];
  std::int32_t largest_move;
};

constexpr std::array<NearestRow, kStepIndexMax + 1> make_nearest_rows() {
  std::array<NearestRow, kStepIndexMax + 1> rows{};
  for (int index = 0; index <= kStepIndexMax; ++index) {
    NearestRow& row = rows[static_cast<std::size_t>(index)];
    for (int magnitude = 0; magnitude < kMagnitudeMax; ++magnitude) {
      // Halfway between the two levels, rounded up: a distance there is as
      // near the upper as the lower.
      row.from[magnitude] =
          (code_step(index, magnitude).delta + code_step(index, magnitude + 1).delta + 1) / 2;
    }
    row.largest_move = code_step(index, kMagnitudeMax).delta;
  }
  return rows;
}
inline constexpr auto kNearestRows = make_nearest_rows();

// The magnitude whose level lies nearest `distance` (ties to the larger),
// where no rail is in reach: seven compares, which run side by side.
inline int nearest_magnitude(std::int32_t distance, const NearestRow& row) {
  int magnitude = 0;
  for (const std::int32_t from : row.from)
    magnitude += distance >= from ? 1 : 0;
  return magnitude;
}

// The nearest code where a rail is in reach and the clamp moves the levels:
// the exact comparison, out of line.
int nearest_code_at_rail(std::int32_t sample, std::int32_t predictor, std::int32_t step_index);

// The code whose reconstruction lands nearest `sample` of those that move
// toward it (up for a sample at the predictor); where it lands on a rail,
// the largest code that lands there, which keeps the step large for the
// next swing. Updates the channel as the decoder does.
inline int encode_sample_nearest(std::int32_t sample, std::int32_t& predictor,
                                 std::int32_t& step_index) {
  const NearestRow& row = kNearestRows[static_cast<std::size_t>(step_index)];
  int code = 0;
  if (std::abs(predictor) + row.largest_move > kSampleMax) [[unlikely]] {
    code = nearest_code_at_rail(sample, predictor, step_index);
  } else {
    const std::int32_t diff = sample - predictor;
    code = nearest_magnitude(std::abs(diff), row) | (diff < 0 ? kSignBit : 0);
  }
  return apply_code_step(kCodeSteps.entry[step_index][code], predictor, step_index);
}

// The squared error of the nearest code for `sample` from a state: the
// nearer of the two levels around it. Away from the rails by compares, not
// by the rule's division: this runs on the chain from each sample to the
// next, where a multiply's latency adds up.
inline std::int64_t nearest_error(std::int32_t sample, std::int32_t predictor,
                                  std::int32_t step_index) {
  const NearestRow& row = kNearestRows[static_cast<std::size_t>(step_index)];
  if (std::abs(predictor) + row.largest_move <= kSampleMax) [[likely]] {
    const std::int32_t distance = std::abs(sample - predictor);
    return squared(distance - kCodeSteps.entry[step_index][nearest_magnitude(distance, row)].delta);
  }
  const std::int32_t diff = sample - predictor;
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  const CodeStep* steps = kCodeSteps.entry[step_index];
  const std::int32_t lower = sample - clamp_sample(predictor + steps[below | sign].delta);
  const std::int32_t upper =
      sample - clamp_sample(predictor + steps[std::min(below + 1, kMagnitudeMax) | sign].delta);
  return std::min(squared(lower), squared(upper));
}

// Of the two levels around `sample` and, with `tries` 3, the largest code:
// the one that, followed by the nearest code for `next_sample`, lands
// nearest both (squared errors added); of equals the larger, which keeps
// the step up. Updates the channel as the decoder does.
inline int encode_sample_ahead(std::int32_t sample, std::int32_t next_sample, int tries,
                               std::int32_t& predictor, std::int32_t& step_index) {
  const CodeStep* steps = kCodeSteps.entry[step_index];
  const std::int32_t diff = sample - predictor;
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  const auto cost_of = [&](int code) {
    const std::int32_t reached = clamp_sample(predictor + steps[code].delta);
    return squared(sample - reached) +
           nearest_error(next_sample, reached, steps[code].next_step_index);
  };
  const int largest = kMagnitudeMax | sign;
  // Past a rail, every larger code lands on the rail too: the largest of
  // them keeps the step up.
  const auto railed = [&](int code) {
    const std::int32_t reached = predictor + steps[code].delta;
    return reached != clamp_sample(reached) ? largest : code;
  };
  // Every cost is counted and the best chosen without a branch: which code
  // wins follows the signal, unpredictably.
  int best_code = railed(below | sign);
  std::int64_t best_cost = cost_of(best_code);
  const int upper = railed(std::min(below + 1, kMagnitudeMax) | sign);
  const std::int64_t upper_cost = cost_of(upper);
  const bool upper_wins = upper_cost <= best_cost;
  best_code = upper_wins ? upper : best_code;
  best_cost = upper_wins ? upper_cost : best_cost;
  if (tries > 2) {
    const std::int64_t largest_cost = cost_of(largest);
    best_code = largest_cost <= best_cost ? largest : best_code;
  }
  return apply_code_step(steps[best_code], predictor, step_index);
}

// Where the two best codes of encode_sample_ahead lie close, a second
// sample ahead decides between them: close is within 12/16 of the best's
// cost (the share that gave the best sound for its time on the benchmark's
// corpus: 8/16 gave +0.51 dB over ffmpeg, 12/16 +0.54, 16/16 +0.54).
constexpr std::int64_t kCloseSixteenths = 12;

// encode_sample_ahead over the three codes, looking two samples ahead (the
// nearest code for `next_sample`, then the nearest error for `after_next`)
// where the best two are close.
inline int encode_sample_two_ahead(std::int32_t sample, std::int32_t next_sample,
                                   std::int32_t after_next, std::int32_t& predictor,
                                   std::int32_t& step_index) {
  const CodeStep* steps = kCodeSteps.entry[step_index];
  const std::int32_t diff = sample - predictor;
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  const int largest = kMagnitudeMax | sign;
  const auto railed = [&](int code) {
    const std::int32_t reached = predictor + steps[code].delta;
    return reached != clamp_sample(reached) ? largest : code;
  };
  const auto cost_of = [&](int code) {
    const std::int32_t reached = clamp_sample(predictor + steps[code].delta);
    return squared(sample - reached) +
           nearest_error(next_sample, reached, steps[code].next_step_index);
  };
  const auto deeper_cost_of = [&](int code) {
    std::int32_t reached = clamp_sample(predictor + steps[code].delta);
    std::int32_t index = steps[code].next_step_index;
    const std::int64_t now = squared(sample - reached);
    (void)encode_sample_nearest(next_sample, reached, index);
    return now + squared(next_sample - reached) + nearest_error(after_next, reached, index);
  };
  const int codes[] = {railed(below | sign), railed(std::min(below + 1, kMagnitudeMax) | sign),
                       largest};
  // A code that repeats an earlier one counts as absent: it costs the most.
  constexpr std::int64_t kAbsent = INT64_MAX;
  const std::int64_t costs[] = {
      cost_of(codes[0]), codes[1] == codes[0] ? kAbsent : cost_of(codes[1]),
      codes[2] == codes[1] || codes[2] == codes[0] ? kAbsent : cost_of(codes[2])};
  // The best (of equals the later, larger code, as encode_sample_ahead) and
  // the runner-up, chosen without a branch: which wins follows the signal.
  const bool one_beats_zero = costs[1] <= costs[0];
  const int leader = one_beats_zero ? 1 : 0;
  const int trailer = one_beats_zero ? 0 : 1;
  const bool two_beats_leader = costs[2] <= costs[leader];
  const int best = two_beats_leader ? 2 : leader;
  const int second = two_beats_leader ? leader : (costs[2] < costs[trailer] ? 2 : trailer);
  int chosen = codes[best];
  if (costs[second] != kAbsent &&
      (costs[second] - costs[best]) * 16 <= costs[best] * kCloseSixteenths &&
      deeper_cost_of(codes[second]) < deeper_cost_of(codes[best])) {
    chosen = codes[second];
  }
  return apply_code_step(steps[chosen], predictor, step_index);
}

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_NEAREST_H
