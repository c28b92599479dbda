// Reading the stream back: each byte's two codes (left in the high nibble,
// right in the low) applied to the channel state, as a player does.
#ifndef WAV2IMA_ADPCM_DECODER_H
#define WAV2IMA_ADPCM_DECODER_H

#include <cstdint>
#include <cstdio>

#include "adpcm/stream_format.h"

namespace wav2ima {

// A reader's state: a predictor and a step index a channel, both 0 at the
// start of a stream. Invariants as the encoder's: predictor in
// kSampleMin..kSampleMax, step index in 0..kStepIndexMax.
struct DecoderState {
  std::int32_t predictor[kChannels];
  std::int32_t step_index[kChannels];
};

// Decodes every byte from the input's offset to its end, continuing `state`
// (start from predictor 0 and step index 0 for a whole stream), and writes
// one frame per byte: left then right sample, 16-bit little-endian. Both
// streams are borrowed. `decoded` counts the stream bytes decoded, also when
// the call fails. Returns 0 at the end of the input, -1 on a read error or a
// failed write.
int decode_stream(std::FILE* output, std::FILE* input, DecoderState& state, std::uint64_t& decoded);

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_DECODER_H
