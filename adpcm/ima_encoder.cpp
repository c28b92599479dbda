// The encoder's C interface: both channels' search, and the rule and the
// nearest code for the levels that need none, over blocks of frames.
#include "adpcm/ima_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <type_traits>

#include "adpcm/nearest.h"
#include "adpcm/quantiser.h"
#include "adpcm/search.h"
#include "platform/parallel.h"

using namespace wav2ima;

namespace {

// Frames a channel is searched over at a time: its codes wait in the
// record, and the other channel's samples stay in the cache meanwhile.
constexpr std::size_t kBlockFrames = 4096;

}  // namespace

struct ImaEncoder {
  SearchLevel search;
  // The rule, the nearest code and the look ahead: the decoder's state, and
  // for the look ahead the frames that wait for the next.
  std::int32_t predictor[kChannels];
  std::int32_t step_index[kChannels];
  std::int16_t waiting[2 * kChannels];
  std::ptrdiff_t frames_waiting;
  // What a player has of the bytes written in this stream: their count and
  // the state after them.
  std::uint64_t frames_written;
  ImaPlayer written;
  // The searches.
  ChannelSearch channel[kChannels];
  std::uint8_t codes[kChannels][kBlockFrames + IMA_ENCODER_MAX_DELAY];
};

namespace {

// A choice of code for one sample that needs no search, inlined into the
// frame loop so the state stays in registers.
template <int (*coder)(std::int32_t, std::int32_t&, std::int32_t&)>
std::size_t encode_directly(ImaEncoder& encoder, const std::int16_t* frames, std::size_t count,
                            std::uint8_t* out) {
  std::int32_t left_predictor = encoder.predictor[0];
  std::int32_t right_predictor = encoder.predictor[1];
  std::int32_t left_index = encoder.step_index[0];
  std::int32_t right_index = encoder.step_index[1];
  for (std::size_t i = 0; i < count; ++i) {
    const int left = coder(frames[2 * i], left_predictor, left_index);
    const int right = coder(frames[2 * i + 1], right_predictor, right_index);
    out[i] = static_cast<std::uint8_t>(left << kCodeBits | right);
  }
  encoder.predictor[0] = left_predictor;
  encoder.predictor[1] = right_predictor;
  encoder.step_index[0] = left_index;
  encoder.step_index[1] = right_index;
  return count;
}

// Both channels decide a code at the same sample, so their codes pair up.
std::size_t pack(const ImaEncoder& encoder, std::size_t count, std::uint8_t* out) {
  for (std::size_t i = 0; i < count; ++i)
    out[i] = static_cast<std::uint8_t>(encoder.codes[0][i] << kCodeBits | encoder.codes[1][i]);
  return count;
}

// Decides each frame of `frames` whose next `ahead` frames are there too:
// the first count - ahead. The state lives in locals: stores to `out` may
// alias anything, so the record's fields would be reloaded each frame.
template <int ahead, int tries>
std::size_t decide_ahead(ImaEncoder& encoder, const std::int16_t* frames, std::size_t count,
                         std::uint8_t* out) {
  constexpr auto kAhead = std::size_t{ahead};
  if (count <= kAhead) return 0;
  std::int32_t predictor[kChannels] = {encoder.predictor[0], encoder.predictor[1]};
  std::int32_t step_index[kChannels] = {encoder.step_index[0], encoder.step_index[1]};
  const std::size_t decided = count - kAhead;
  for (std::size_t i = 0; i < decided; ++i) {
    const std::int16_t* frame = frames + kChannels * i;
    int codes[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      if constexpr (ahead == 2) {
        codes[c] = encode_sample_two_ahead(frame[c], frame[kChannels + c], frame[2 * kChannels + c],
                                           predictor[c], step_index[c]);
      } else {
        codes[c] =
            encode_sample_ahead(frame[c], frame[kChannels + c], tries, predictor[c], step_index[c]);
      }
    }
    out[i] = static_cast<std::uint8_t>(codes[0] << kCodeBits | codes[1]);
  }
  std::copy(predictor, predictor + kChannels, encoder.predictor);
  std::copy(step_index, step_index + kChannels, encoder.step_index);
  return decided;
}

// Each frame's code waits for the next frame's samples (two ahead: the next
// two frames'). The frames still waiting from the last feed are decided
// from a copy joined with the first new ones; the rest straight from
// `frames`, whose last `ahead` then wait.
template <int ahead, int tries>
std::size_t encode_ahead(ImaEncoder& encoder, const std::int16_t* frames, std::size_t count,
                         std::uint8_t* out) {
  constexpr auto kAhead = std::size_t{ahead};
  std::int16_t* waiting = encoder.waiting;
  std::size_t written = 0;
  const auto waited = static_cast<std::size_t>(encoder.frames_waiting);
  if (waited > 0) {
    std::int16_t joined[2 * kAhead * kChannels];
    const std::size_t taken = std::min(count, kAhead);
    std::copy(waiting, waiting + kChannels * waited, joined);
    std::copy(frames, frames + kChannels * taken, joined + kChannels * waited);
    written = decide_ahead<ahead, tries>(encoder, joined, waited + taken, out);
    if (count < kAhead) {
      const std::size_t left = waited + taken - written;
      std::copy(joined + kChannels * written, joined + kChannels * (written + left), waiting);
      encoder.frames_waiting = static_cast<std::ptrdiff_t>(left);
      return written;
    }
  }
  written += decide_ahead<ahead, tries>(encoder, frames, count, out + written);
  const std::size_t kept = std::min(count, kAhead);
  std::copy(frames + kChannels * (count - kept), frames + kChannels * count, waiting);
  encoder.frames_waiting = static_cast<std::ptrdiff_t>(kept);
  return written;
}

// One channel's share of a block.
struct ChannelBlock {
  ImaEncoder* encoder;
  int channel;
  const std::int16_t* frames;
  std::size_t count;
  std::size_t decided;
};

void search_channel_block(void* context) {
  auto& block = *static_cast<ChannelBlock*>(context);
  ImaEncoder& encoder = *block.encoder;
  block.decided =
      search_channel(encoder.channel[block.channel], encoder.search, block.frames + block.channel,
                     kChannels, block.count, encoder.codes[block.channel]);
}

// The channels are independent: each searches on a core of its own. A thread
// is started for each block, so a caller feeding a few frames at a time (an
// engine's callback) has them searched one after the other instead.
constexpr std::size_t kThreadedFrames = 256;

std::size_t search_block(ImaEncoder& encoder, const std::int16_t* frames, std::size_t count,
                         std::uint8_t* out) {
  ChannelBlock left{&encoder, 0, frames, count, 0};
  ChannelBlock right{&encoder, 1, frames, count, 0};
  if (count >= kThreadedFrames) {
    run_both(Work{search_channel_block, &left}, Work{search_channel_block, &right});
  } else {
    search_channel_block(&left);
    search_channel_block(&right);
  }
  return pack(encoder, left.decided, out);
}

// Follows the bytes just written: the rule, the nearest code and the look
// ahead keep the state of what they wrote; the search's is played.
std::size_t note_written(ImaEncoder& encoder, const std::uint8_t* out, std::size_t count) {
  encoder.frames_written += count;
  if (encoder.search.kind == SearchLevel::kBeam) {
    ima_player_skip(&encoder.written, out, count);
  } else {
    for (int c = 0; c < kChannels; ++c) {
      encoder.written.predictor[c] = static_cast<std::int16_t>(encoder.predictor[c]);
      encoder.written.step_index[c] = static_cast<std::uint8_t>(encoder.step_index[c]);
    }
  }
  return count;
}

void start_stream(ImaEncoder& encoder) {
  encoder.frames_written = 0;
  ima_player_reset(&encoder.written);
  for (int channel = 0; channel < kChannels; ++channel) {
    encoder.predictor[channel] = 0;
    encoder.step_index[channel] = 0;
    encoder.frames_waiting = 0;
    reset_channel(encoder.channel[channel]);
  }
}

std::size_t encode(ImaEncoder* encoder, const int16_t* frames, size_t count, uint8_t* out) {
  switch (encoder->search.kind) {
    case SearchLevel::kRule:
      return encode_directly<encode_sample_fast>(*encoder, frames, count, out);
    case SearchLevel::kNearest:
      return encode_directly<encode_sample_nearest>(*encoder, frames, count, out);
    case SearchLevel::kAhead:
      return encoder->search.codes > 2 ? encode_ahead<1, 3>(*encoder, frames, count, out)
                                       : encode_ahead<1, 2>(*encoder, frames, count, out);
    case SearchLevel::kTwoAhead:
      return encode_ahead<2, 3>(*encoder, frames, count, out);
    case SearchLevel::kBeam:
      break;
  }
  std::size_t written = 0;
  for (std::size_t done = 0; done < count;) {
    const std::size_t block = count - done < kBlockFrames ? count - done : kBlockFrames;
    written += search_block(*encoder, frames + kChannels * done, block, out + written);
    done += block;
  }
  return written;
}

}  // namespace

extern "C" {

ImaEncoder* ima_encoder_new(int level) {
  if (level < 0 || level > IMA_ENCODER_LEVEL_MAX) return nullptr;
  // From the C library, zeroed: a C program links no C++ runtime for it.
  static_assert(std::is_trivial_v<ImaEncoder>);
  auto* encoder = static_cast<ImaEncoder*>(std::calloc(1, sizeof(ImaEncoder)));
  if (encoder == nullptr) return nullptr;
  encoder->search = search_level(level);
  start_stream(*encoder);
  return encoder;
}

size_t ima_encoder_feed(ImaEncoder* encoder, const int16_t* frames, size_t count, uint8_t* out) {
  return note_written(*encoder, out, encode(encoder, frames, count, out));
}

size_t ima_encoder_finish(ImaEncoder* encoder, uint8_t* out) {
  std::size_t written = 0;
  if (encoder->search.kind == SearchLevel::kBeam) {
    for (int channel = 0; channel < kChannels; ++channel) {
      written = finish_channel(encoder->channel[channel], encoder->search, encoder->codes[channel]);
    }
    (void)pack(*encoder, written, out);
  } else if (encoder->frames_waiting > 0) {
    // The last frames have no next: their nearest codes.
    written = encode_directly<encode_sample_nearest>(
        *encoder, encoder->waiting, static_cast<std::size_t>(encoder->frames_waiting), out);
  }
  start_stream(*encoder);
  return written;
}

void ima_encoder_mark(const ImaEncoder* encoder, ImaPlayerMark* mark) {
  // A stream past 2^32 frames (27 hours) is marked at its last countable one.
  mark->frame =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(encoder->frames_written, UINT32_MAX));
  mark->state = encoder->written;
}

void ima_encoder_free(ImaEncoder* encoder) {
  std::free(encoder);
}

}  // extern "C"
