#include "adpcm/search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <iterator>

#include "adpcm/nearest.h"
#include "adpcm/reconstruct.h"
#include "adpcm/tables.h"

namespace wav2ima {

namespace {

// Each level searches more than the one before (bench/README.md has what
// each gains and costs).
constexpr SearchLevel kSearchLevels[] = {
    {SearchLevel::kRule, 1, 1, 1},     {SearchLevel::kNearest, 2, 1, 1},
    {SearchLevel::kAhead, 2, 1, 2},    {SearchLevel::kAhead, 3, 1, 2},
    {SearchLevel::kTwoAhead, 3, 1, 3}, {SearchLevel::kBeam, 3, 4, 12},
    {SearchLevel::kBeam, 4, 6, 16},    {SearchLevel::kBeam, 4, 8, 24},
    {SearchLevel::kBeam, 5, 12, 32},   {SearchLevel::kBeam, 5, 24, 32},
};
static_assert(std::size(kSearchLevels) == IMA_ENCODER_LEVEL_MAX + 1);

// Every level fits the scratch its searches are given.
constexpr bool level_fits(const SearchLevel& level) {
  return level.width <= kMaxWidth && level.delay <= kMaxDelay && level.codes <= kCodes;
}
// Not std::ranges::all_of: WASI's libc++ 14 has none.
static_assert(std::all_of(std::begin(kSearchLevels), std::end(kSearchLevels), level_fits));

// The codes tried from one state, nearest first: the two levels around the
// sample, the largest code (a rail, a ramp up), the outer neighbours, the
// smallest the other way, then the rest; by the rule's magnitude below the
// sample, for a sample above the predictor (below it, the sign flips each).
constexpr int kAway = kSignBit;  // the smallest code the other way
using TryOrder = std::array<std::array<std::uint8_t, kCodes>, kMagnitudeMax + 1>;
constexpr TryOrder make_try_orders() {
  TryOrder orders{};
  for (int below = 0; below <= kMagnitudeMax; ++below) {
    const int preferred[] = {below,  below + 1, kMagnitudeMax, below - 1, below + 2,
                             -kAway, below + 3, below - 2,     below + 4, below - 3};
    unsigned taken_codes = 0;
    int taken = 0;
    const auto take = [&](int code) {
      if (code < 0 || code >= kCodes || (taken_codes & (1U << code)) != 0) return;
      taken_codes |= 1U << code;
      orders[static_cast<std::size_t>(below)][static_cast<std::size_t>(taken++)] =
          static_cast<std::uint8_t>(code);
    };
    for (const int magnitude : preferred) {
      if (magnitude == -kAway) {
        take(kAway);
      } else if (magnitude >= 0 && magnitude <= kMagnitudeMax) {
        take(magnitude);
      }
    }
    for (int code = 0; code < kCodes; ++code)
      take(code);
  }
  return orders;
}
constexpr TryOrder kTryOrders = make_try_orders();

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

// The codes not yet decided, by age (0: the newest). Codes older than the
// delay are decided and never read again: they fall off the end.
constexpr int kCodesPerWord = 64 / kCodeBits;

void push_code(std::uint64_t (&pending)[2], unsigned code) {
  pending[1] = pending[1] << kCodeBits | pending[0] >> (64 - kCodeBits);
  pending[0] = pending[0] << kCodeBits | code;
}

int code_of_age(const std::uint64_t (&pending)[2], int age) {
  const std::uint64_t word = pending[age / kCodesPerWord];
  return static_cast<int>(word >> (kCodeBits * (age % kCodesPerWord)) & kCodeMask);
}

void expand(const ChannelSearch& channel, const SearchLevel& level, std::int32_t sample,
            SearchScratch& c) {
  c.count = 0;
  for (int n = 0; n < channel.count; ++n) {
    const SearchNode& from = channel.nodes[n];
    const std::int32_t diff = sample - from.predictor;
    const unsigned sign = diff < 0 ? kSignBit : 0;
    const auto& order =
        kTryOrders[static_cast<std::size_t>(magnitude_below(std::abs(diff), from.step_index))];
    const CodeStep* steps = kCodeSteps.entry[from.step_index];
    for (int t = 0; t < level.codes; ++t) {
      const unsigned code = order[static_cast<std::size_t>(t)] ^ sign;
      const CodeStep& step = steps[code];
      const std::int32_t predictor = clamp_sample(from.predictor + step.delta);
      const auto error = static_cast<std::int64_t>(sample - predictor);
      SearchNode node{predictor,
                      step.next_step_index,
                      from.cost + static_cast<std::uint64_t>(error * error),
                      {from.pending_codes[0], from.pending_codes[1]}};
      push_code(node.pending_codes, code);
      c.node[c.count] = node;
      c.rank[c.count] = rank(node.cost, state_key(predictor, step.next_step_index), c.count);
      ++c.count;
    }
  }
}

constexpr int kLookedPerKept = 2;

int cost_bits(std::uint64_t rank) {
  return static_cast<int>(std::bit_width(rank >> (kKeyBits + kPlaceBits)));
}

// Moves the `wanted` lowest ranks of `count` to the front. Candidates are
// sorted into classes by the bits of their cost, all in one pass without a
// branch on the data; only the class that straddles the cut is selected
// within.
void move_lowest_to_front(std::uint64_t* ranks, int count, int wanted, std::uint64_t* spare) {
  int classes[65] = {};
  for (int i = 0; i < count; ++i)
    ++classes[cost_bits(ranks[i])];
  int cut = 0;
  int below = 0;
  while (below + classes[cut] < wanted)
    below += classes[cut++];
  // The cheaper classes at the front of `spare`, the straddling one in its
  // second half.
  std::uint64_t* cut_class = spare + kMaxCandidates;
  int front = 0;
  int straddling = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t rank = ranks[i];
    const int bits = cost_bits(rank);
    spare[front] = rank;
    front += bits < cut ? 1 : 0;
    cut_class[straddling] = rank;
    straddling += bits == cut ? 1 : 0;
  }
  const int rest = wanted - below;
  std::nth_element(cut_class, cut_class + rest, cut_class + straddling);
  std::copy(spare, spare + below, ranks);
  std::copy(cut_class, cut_class + rest, ranks + below);
}

// Keeps the `width` cheapest candidates of different states, cheapest
// first: two streams in one state have the same future, so only the cheaper
// is worth keeping. The cheapest few times the width are looked at, which
// holds the width's cheapest states but in rare runs of duplicates.
void keep_cheapest(ChannelSearch& channel, const SearchLevel& level, SearchScratch& c) {
  std::uint64_t* ranks = c.rank;
  const int looked = std::min(c.count, kLookedPerKept * level.width);
  if (looked < c.count) move_lowest_to_front(ranks, c.count, looked, c.spare);
  if (++c.stamp == 0) {
    // Once in 2^32 samples every slot's stamp could look current.
    std::fill(std::begin(c.slot_stamp), std::end(c.slot_stamp), 0U);
    c.stamp = 1;
  }
  // Of each state, the lowest rank.
  for (int i = 0; i < looked; ++i) {
    const std::uint64_t rank = ranks[i];
    const auto key = static_cast<std::uint32_t>(key_of(rank));
    std::uint32_t slot = (key * 2654435769U) >> (32 - kSlotBits);
    while (c.slot_stamp[slot] == c.stamp && key_of(c.slot_rank[slot]) != key)
      slot = (slot + 1) & (kSlots - 1);
    if (c.slot_stamp[slot] != c.stamp) {
      c.slot_stamp[slot] = c.stamp;
      c.slot_rank[slot] = rank;
    } else {
      c.slot_rank[slot] = std::min(c.slot_rank[slot], rank);
    }
  }
  int unique = 0;
  for (int i = 0; i < looked; ++i) {
    const std::uint64_t rank = ranks[i];
    const auto key = static_cast<std::uint32_t>(key_of(rank));
    std::uint32_t slot = (key * 2654435769U) >> (32 - kSlotBits);
    while (key_of(c.slot_rank[slot]) != key)
      slot = (slot + 1) & (kSlots - 1);
    c.spare[unique] = rank;
    unique += c.slot_rank[slot] == rank ? 1 : 0;
  }
  const int kept = std::min(unique, level.width);
  if (kept < unique) std::nth_element(c.spare, c.spare + kept, c.spare + unique);
  std::sort(c.spare, c.spare + kept);
  for (int i = 0; i < kept; ++i)
    channel.nodes[i] = c.node[c.spare[i] & kPlaceMask];
  channel.count = kept;
}

// Decides the oldest pending code as the cheapest stream (the first) has it, and drops
// every stream that decided otherwise: all survivors then share every
// decided code, so the state a decided code leads to is the same for all.
int decide_oldest(ChannelSearch& channel, int delay, int best) {
  const int oldest = delay - 1;
  const int code = code_of_age(channel.nodes[best].pending_codes, oldest);
  int kept = 0;
  for (int n = 0; n < channel.count; ++n) {
    SearchNode node = channel.nodes[n];
    if (code_of_age(node.pending_codes, oldest) != code) continue;
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
  return kSearchLevels[std::clamp(level, 0, IMA_ENCODER_LEVEL_MAX)];
}

void reset_channel(ChannelSearch& channel) {
  channel.nodes[0] = SearchNode{0, 0, 0, {0, 0}};
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
  for (int i = 0; i < undecided; ++i)
    codes[i] =
        static_cast<std::uint8_t>(code_of_age(channel.nodes[0].pending_codes, undecided - 1 - i));
  reset_channel(channel);
  return static_cast<std::size_t>(undecided);
}

}  // namespace wav2ima
