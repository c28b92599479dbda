#include "adpcm/search.h"

#include <algorithm>
#ifdef EXPERIMENT
#include <cstdio>
#include <cstdlib>
#endif
#include <array>
#include <bit>
#include <cstdlib>
#include <iterator>

#include "adpcm/quantiser.h"
#include "adpcm/reconstruct.h"
#include "adpcm/tables.h"

namespace wav2ima {

namespace {

// Each level searches more than the one before (bench/README.md has what
// each gains and costs).
constexpr SearchLevel kSearchLevels[] = {
    {SearchLevel::kRule, 1, 1, 1},    {SearchLevel::kNearest, 2, 1, 1},
    {SearchLevel::kAhead, 2, 1, 2},   {SearchLevel::kAhead, 3, 1, 2},
    {SearchLevel::kBeam, 4, 4, 8},    {SearchLevel::kBeam, 5, 6, 12},
    {SearchLevel::kBeam, 6, 8, 16},   {SearchLevel::kBeam, 8, 12, 16},
    {SearchLevel::kBeam, 16, 24, 16}, {SearchLevel::kBeam, 16, 48, 16},
};
static_assert(std::size(kSearchLevels) == IMA_ENCODER_LEVEL_MAX + 1);

constexpr int kMagnitudeMax = 7;

std::int32_t clamp_sample(std::int32_t value) {
  return std::clamp(value, kSampleMin, kSampleMax);
}

// The rule's magnitude for `distance` at `step_index`: the largest whose
// level lies at or below the distance (0 below the first level). The
// nearest level is this one or the next.
int magnitude_below(std::int32_t distance, std::int32_t step_index) {
  // distance <= 65535 and the reciprocal < 2^32: the product fits in 64 bits.
  const std::uint64_t quotient = static_cast<std::uint64_t>(distance) *
                                     kStepReciprocal[static_cast<std::size_t>(step_index)] >>
                                 kReciprocalShift;
  const auto clamped = static_cast<int>(std::min<std::uint64_t>(quotient, kQuotients - 1));
  return clamped == 0 ? 0 : (clamped - 1) / 2;
}

// The codes tried from one state, nearest first: the two levels around the
// sample, the largest code (a rail, a ramp up), the outer neighbours, the
// smallest the other way, then the rest. Writes up to `wanted` codes to
// `codes` and returns how many.
int codes_to_try(std::int32_t diff, std::int32_t step_index, int wanted, int* codes) {
  if (wanted >= kCodes) {
    for (int code = 0; code < kCodes; ++code)
      codes[code] = code;
    return kCodes;
  }
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  // -1 stands for the smallest code the other way.
  const int order[] = {below, below + 1, kMagnitudeMax, below - 1, below + 2,
                       -1,    below + 3, below - 2,     below + 4, below - 3};
  unsigned taken_codes = 0;
  int taken = 0;
  for (const int magnitude : order) {
    if (taken == wanted) break;
    if (magnitude < -1 || magnitude > kMagnitudeMax) continue;
    const int code = magnitude == -1 ? sign ^ kSignBit : magnitude | sign;
    if ((taken_codes & (1u << code)) != 0) continue;
    taken_codes |= 1u << code;
    codes[taken++] = code;
  }
  return taken;
}

// Streams whose predictors differ by a small part of the step sound alike
// from here on, so they count as one state: the beam then holds streams
// that differ, and a wider search at the same width. The part: 1/16 to 1/32
// of the step, none at the smallest steps, where a quiet passage needs
// every step of 1.
constexpr int kBucketBitsBelowStep = 5;
constexpr std::array<std::uint8_t, kStepIndexMax + 1> make_bucket_shifts() {
  std::array<std::uint8_t, kStepIndexMax + 1> shifts{};
  for (std::size_t i = 0; i < shifts.size(); ++i) {
    const auto bits = static_cast<int>(std::bit_width(static_cast<unsigned>(kStepTable[i])));
    shifts[i] = static_cast<std::uint8_t>(std::max(0, bits - kBucketBitsBelowStep));
  }
  return shifts;
}
constexpr auto kBucketShift = make_bucket_shifts();

std::uint32_t state_key(std::int32_t predictor, std::int32_t step_index) {
  const int shift = kBucketShift[static_cast<std::size_t>(step_index)];
  return (static_cast<std::uint32_t>(predictor - kSampleMin) >> shift) * (kStepIndexMax + 1) +
         static_cast<std::uint32_t>(step_index);
}

// Cost, state and place in one number that orders candidates totally: the
// cost in quarters (saturating past 2^33, more than one sample's worst
// error), the state, then the place, which the order of the streams before
// decides. The streams are kept in that order, so every step, and the
// stream, is the same whatever order a selection leaves them in.
constexpr int kKeyBits = 23;
constexpr int kPlaceBits = 10;
constexpr std::uint64_t kPlaceMask = (std::uint64_t{1} << kPlaceBits) - 1;
constexpr std::uint64_t kKeyMask = (std::uint64_t{1} << kKeyBits) - 1;
static_assert((kSampleMax - kSampleMin + 1) * (kStepIndexMax + 1) <= (1 << kKeyBits));
static_assert(kMaxCandidates <= (1 << kPlaceBits));
std::uint64_t rank(std::uint64_t cost, std::uint32_t key, int place) {
  constexpr std::uint64_t kCostMax = (std::uint64_t{1} << (64 - kKeyBits - kPlaceBits)) - 1;
  return (std::min(cost >> 2, kCostMax) << kKeyBits | key) << kPlaceBits |
         static_cast<unsigned>(place);
}

std::uint64_t key_of(std::uint64_t rank) {
  return rank >> kPlaceBits & kKeyMask;
}

void expand(const ChannelSearch& channel, const SearchLevel& level, std::int32_t sample,
            SearchScratch& c) {
  c.count = 0;
  for (int n = 0; n < channel.count; ++n) {
    const SearchNode& from = channel.nodes[n];
    const std::int32_t diff = sample - from.predictor;
    int codes[kCodes];
    const int tried = codes_to_try(diff, from.step_index, level.codes, codes);
    const CodeStep* steps = kCodeSteps.entry[from.step_index];
    for (int t = 0; t < tried; ++t) {
      const int code = codes[t];
      const CodeStep& step = steps[code];
      const std::int32_t predictor = clamp_sample(from.predictor + step.delta);
      const auto error = static_cast<std::int64_t>(sample - predictor);
      const SearchNode node{predictor, step.next_step_index,
                            from.cost + static_cast<std::uint64_t>(error * error),
                            from.pending_codes << kCodeBits | static_cast<unsigned>(code)};
      c.node[c.count] = node;
      c.rank[c.count] = rank(node.cost, state_key(predictor, step.next_step_index), c.count);
      ++c.count;
    }
  }
}

constexpr int kLookedPerKept = 3;

// Keeps the `width` cheapest candidates of different states, cheapest
// first: two streams in one state have the same future, so only the cheaper
// is worth keeping. The cheapest few times the width are looked at, which
// holds the width's cheapest states but in rare runs of duplicates.
void keep_cheapest(ChannelSearch& channel, const SearchLevel& level, SearchScratch& c) {
  std::uint64_t* ranks = c.rank;
  int looked = std::min(c.count, kLookedPerKept * level.width);
  if (looked < c.count) std::nth_element(ranks, ranks + looked, ranks + c.count);
  // Of each state, the cheapest: by state, then rank.
  std::sort(ranks, ranks + looked, [](std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a_key = key_of(a);
    const std::uint64_t b_key = key_of(b);
    return a_key != b_key ? a_key < b_key : a < b;
  });
  int unique = 0;
  for (int i = 0; i < looked; ++i) {
    if (unique > 0 && key_of(ranks[unique - 1]) == key_of(ranks[i])) continue;
    ranks[unique++] = ranks[i];
  }
  const int kept = std::min(unique, level.width);
  std::partial_sort(ranks, ranks + kept, ranks + unique);
  for (int i = 0; i < kept; ++i)
    channel.nodes[i] = c.node[ranks[i] & kPlaceMask];
  channel.count = kept;
}

// Decides the oldest pending code as the cheapest stream (the first) has it, and drops
// every stream that decided otherwise: all survivors then share every
// decided code, so the state a decided code leads to is the same for all.
int decide_oldest(ChannelSearch& channel, int delay, int best) {
  const int shift = kCodeBits * (delay - 1);
  const auto code = static_cast<int>(channel.nodes[best].pending_codes >> shift & kCodeMask);
  const std::uint64_t later = (std::uint64_t{1} << shift) - 1;
  int kept = 0;
  for (int n = 0; n < channel.count; ++n) {
    SearchNode node = channel.nodes[n];
    if (static_cast<int>(node.pending_codes >> shift & kCodeMask) != code) continue;
    node.pending_codes &= later;
    channel.nodes[kept++] = node;
  }
  channel.count = kept;
  return code;
}

// Costs are kept relative to the cheapest stream, so they never overflow
// however long the stream: a difference is at most `delay` times a
// sample's worst squared error, plus what pruning keeps.
void rebase_costs(ChannelSearch& channel) {
  std::uint64_t least = channel.nodes[0].cost;
  for (int n = 1; n < channel.count; ++n)
    least = std::min(least, channel.nodes[n].cost);
  for (int n = 0; n < channel.count; ++n)
    channel.nodes[n].cost -= least;
}

}  // namespace

SearchLevel search_level(int level) {
#ifdef EXPERIMENT
  if (level == 9 && std::getenv("BEAM")) {
    SearchLevel l{SearchLevel::kBeam, 0, 0, 0};
    std::sscanf(std::getenv("BEAM"), "%d %d %d", &l.codes, &l.width, &l.delay);
    return l;
  }
#endif
  return kSearchLevels[std::clamp(level, 0, IMA_ENCODER_LEVEL_MAX)];
}

void reset_channel(ChannelSearch& channel) {
  channel.nodes[0] = SearchNode{0, 0, 0, 0};
  channel.count = 1;
  channel.samples = 0;
}

std::size_t search_channel(ChannelSearch& channel, const SearchLevel& level,
                           const std::int16_t* samples, std::size_t stride, std::size_t count,
                           std::uint8_t* codes) {
  SearchScratch& c = channel.scratch;
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; ++i) {
    expand(channel, level, samples[i * stride], c);
    keep_cheapest(channel, level, c);
    rebase_costs(channel);
    ++channel.samples;
    if (channel.samples < static_cast<std::uint64_t>(level.delay)) continue;
    codes[written++] = static_cast<std::uint8_t>(decide_oldest(channel, level.delay, 0));
  }
  return written;
}

std::size_t finish_channel(ChannelSearch& channel, const SearchLevel& level, std::uint8_t* codes) {
  const auto undecided = static_cast<int>(
      std::min<std::uint64_t>(channel.samples, static_cast<std::uint64_t>(level.delay - 1)));
  const std::uint64_t pending = channel.nodes[0].pending_codes;
  for (int i = 0; i < undecided; ++i)
    codes[i] = static_cast<std::uint8_t>(pending >> (kCodeBits * (undecided - 1 - i)) & kCodeMask);
  reset_channel(channel);
  return static_cast<std::size_t>(undecided);
}

namespace {

// Where the nearest code lands from a state, without moving it: the code and
// the reconstruction, as encode_sample_nearest chooses.
struct Landing {
  int code;
  std::int32_t predictor;
};

Landing nearest_landing(std::int32_t sample, std::int32_t predictor, std::int32_t step_index) {
  const std::int32_t diff = sample - predictor;
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  const CodeStep* steps = kCodeSteps.entry[step_index];
  Landing landing{below | sign, predictor + steps[below | sign].delta};
  if (below < kMagnitudeMax) {
    const int upper = landing.code + 1;
    const std::int32_t reached = predictor + steps[upper].delta;
    // Ties to the larger code: it keeps the step up.
    if (std::abs(sample - clamp_sample(reached)) <=
        std::abs(sample - clamp_sample(landing.predictor))) {
      landing = {upper, reached};
    }
  }
  // Near a rail the clamp may hold the smallest move the other way nearer.
  const int away = sign ^ kSignBit;
  const std::int32_t away_reached = predictor + steps[away].delta;
  if (std::abs(sample - clamp_sample(away_reached)) <
      std::abs(sample - clamp_sample(landing.predictor))) {
    landing = {away, away_reached};
  }
  // Past a rail, every larger code lands on the rail too.
  if (landing.predictor != clamp_sample(landing.predictor)) {
    landing = {kMagnitudeMax | (landing.code & kSignBit), clamp_sample(landing.predictor)};
  }
  return landing;
}

std::int64_t squared(std::int32_t value) {
  return std::int64_t{value} * value;
}

// The squared error of the nearest code for `sample` from a state: the
// nearer of the two levels around it.
std::int64_t nearest_error(std::int32_t sample, std::int32_t predictor, std::int32_t step_index) {
  const std::int32_t diff = sample - predictor;
  const int sign = diff < 0 ? kSignBit : 0;
  const int below = magnitude_below(std::abs(diff), step_index);
  const CodeStep* steps = kCodeSteps.entry[step_index];
  const std::int32_t lower = sample - clamp_sample(predictor + steps[below | sign].delta);
  const std::int32_t upper =
      sample - clamp_sample(predictor + steps[std::min(below + 1, kMagnitudeMax) | sign].delta);
  return std::min(squared(lower), squared(upper));
}

}  // namespace

namespace {

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
constexpr auto kNearestRows = make_nearest_rows();

}  // namespace

int encode_sample_nearest(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  const NearestRow& row = kNearestRows[static_cast<std::size_t>(step_index)];
  // Near a rail the clamp moves the levels: the exact comparison.
  if (std::abs(predictor) + row.largest_move > kSampleMax) [[unlikely]] {
    const Landing landing = nearest_landing(sample, predictor, step_index);
    return apply_code_step(kCodeSteps.entry[step_index][landing.code], predictor, step_index);
  }
  const std::int32_t diff = sample - predictor;
  const std::int32_t distance = std::abs(diff);
  int magnitude = 0;
  for (const std::int32_t from : row.from)
    magnitude += distance >= from ? 1 : 0;
  const int code = magnitude | (diff < 0 ? kSignBit : 0);
  return apply_code_step(kCodeSteps.entry[step_index][code], predictor, step_index);
}

int encode_sample_ahead(std::int32_t sample, std::int32_t next_sample, int tries,
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
  // The two levels around the sample, then the largest code; of equals the
  // larger code, which keeps the step up.
  const int largest = kMagnitudeMax | sign;
  // Past a rail, every larger code lands on the rail too: the largest of
  // them keeps the step up.
  const auto railed = [&](int code) {
    const std::int32_t reached = predictor + steps[code].delta;
    return reached != clamp_sample(reached) ? largest : code;
  };
  int best_code = railed(below | sign);
  std::int64_t best_cost = cost_of(best_code);
  const int upper = railed(std::min(below + 1, kMagnitudeMax) | sign);
  const std::int64_t upper_cost = cost_of(upper);
  if (upper_cost <= best_cost) {
    best_code = upper;
    best_cost = upper_cost;
  }
  if (tries > 2 && upper != largest) {
    if (cost_of(largest) <= best_cost) best_code = largest;
  }
  return apply_code_step(steps[best_code], predictor, step_index);
}

}  // namespace wav2ima
