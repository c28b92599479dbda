// Choosing codes by search, one channel at a time: the decoder plays any
// code sequence, so each code may be the one that brings the reconstruction
// nearest the input over the next samples, not only the standard's rule.
// The two channels are independent: each code depends only on its own
// channel's state and samples.
#ifndef WAV2IMA_ADPCM_SEARCH_H
#define WAV2IMA_ADPCM_SEARCH_H

#include <cstddef>
#include <cstdint>

#include "adpcm/ima_encoder.h"
#include "adpcm/stream_format.h"

namespace wav2ima {

// How a level chooses codes: the standard's rule, the nearest code, the
// best of `codes` codes with the next sample's nearest code after each (and,
// two ahead, the sample after that where the best two are close), or a
// search that keeps `width` candidate streams (decoder states) each sample,
// tries `codes` codes from each (16: every code) and decides a code `delay`
// samples after its own.
struct SearchLevel {
  enum Kind { kRule, kNearest, kAhead, kTwoAhead, kBeam };
  Kind kind;
  int codes;
  int width;
  int delay;
};

// The level's search, for 0..IMA_ENCODER_LEVEL_MAX.
SearchLevel search_level(int level);

constexpr int kMaxWidth = 24;  // the widest level's
constexpr int kMaxDelay = 32;
static_assert(kMaxDelay <= IMA_ENCODER_MAX_DELAY);

// One candidate stream: the decoder state it reaches, the squared error it
// has made (less the cheapest stream's), and its codes not yet decided, the
// newest in the low nibble. Streams whose predictors differ by a small part
// of the step count as one state.
struct SearchNode {
  std::int32_t predictor;
  std::int32_t step_index;
  std::uint64_t cost;
  // [0] the 16 newest, [1] the 16 before them.
  std::uint64_t pending_codes[2];
};

// The candidates of one sample: each a stream one code longer, and its
// rank (the order they are kept in); and a set of the states kept, whose
// slots are valid for the current `stamp` alone.
constexpr int kMaxCandidates = kMaxWidth * 16;
constexpr int kSlotBits = 9;
constexpr std::uint32_t kSlots = 1U << kSlotBits;
static_assert(kSlots >= 2 * 3 * kMaxWidth);
struct SearchScratch {
  SearchNode node[kMaxCandidates];
  std::uint64_t rank[kMaxCandidates];
  std::uint64_t spare[2 * kMaxCandidates];
  int count;
  std::uint32_t slot_stamp[kSlots];
  std::uint64_t slot_rank[kSlots];
  std::uint32_t stamp;
};

// One channel's search. After reset: one node at the stream's start.
struct ChannelSearch {
  SearchNode nodes[kMaxWidth];
  int count;
  std::uint64_t samples;  // samples searched since the start of the stream
  SearchScratch scratch;
};

void reset_channel(ChannelSearch& channel);

// Searches `count` samples taken `stride` apart and writes each decided code
// (0..15) to `codes`: returns how many, `count` once the first `delay - 1`
// samples of a stream are behind.
std::size_t search_channel(ChannelSearch& channel, const SearchLevel& level,
                           const std::int16_t* samples, std::size_t stride, std::size_t count,
                           std::uint8_t* codes);

// Writes the codes still undecided, the best stream's, and resets the channel.
std::size_t finish_channel(ChannelSearch& channel, const SearchLevel& level, std::uint8_t* codes);

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_SEARCH_H
