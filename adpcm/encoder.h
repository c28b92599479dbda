// IMA ADPCM stream encoder: 16-bit stereo PCM frames in, one stream byte of
// two 4-bit codes per frame out (both layouts in adpcm/stream_format.h). The
// state is one process-wide record, reset once and carried across every data
// chunk of a file.
#ifndef WAV2IMA_ADPCM_ENCODER_H
#define WAV2IMA_ADPCM_ENCODER_H

#include <cstdint>
#include <cstdio>

#include "adpcm/ima_encoder.h"
#include "adpcm/stream_format.h"

namespace wav2ima {

// Invariants: predictor in kSampleMin..kSampleMax, step_index in 0..kStepIndexMax.
struct EncoderState {
  std::int32_t predictor[kChannels];
  std::int32_t step_index[kChannels];
};

// The one process-wide state; it carries over from one data chunk to the next.
extern EncoderState encoder_state;

// Sets both predictors and both step indices to 0.
void reset_encoder_state();

// Quantises one sample (kSampleMin..kSampleMax) against one channel's
// predictor and step index (which must satisfy the invariants above), updates
// both in place and returns the 4-bit code 0..15.
int encode_sample(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index);

// What turns whole frames into stream bytes: by default the rule on the
// process-wide state (wav2ima's), or a search (imaenc's), which may hold
// frames back and write their bytes later.
struct FrameCoder {
  void* context;
  // Encodes `count` frames of interleaved 16-bit little-endian bytes and
  // writes the stream bytes decided so far to `codes`: returns how many, at
  // most count + kMaxHeldFrames.
  std::size_t (*encode)(void* context, const unsigned char* frames, std::size_t count,
                        unsigned char* codes);
};
constexpr std::size_t kMaxHeldFrames = IMA_ENCODER_MAX_DELAY;
// The most frames a coder is handed at once.
constexpr std::size_t kFramesPerBlock = 4096;

// The rule on `encoder_state`: one byte for each frame, at once.
extern const FrameCoder kRuleCoder;

// Encodes the `count`-byte body of a data chunk, starting at the input's
// current offset, writing one byte per whole frame (as `coder` decides
// them); a 1-3 byte tail is read and dropped. Both streams are borrowed.
// Returns:
//    0  the body was read and the input is left at entry offset + `count`;
//   -1  the input ended (or failed) inside the body: the frames before are
//       written, the input is not repositioned;
//   -1  a byte write failed, or the final seek failed (output then complete).
int encode_data_chunk(std::FILE* output, std::FILE* input, std::uint32_t count,
                      const FrameCoder& coder = kRuleCoder);

// Encodes frames from the input's current offset up to its end, or until
// `limit` bytes are read if that comes first, for a data chunk whose writer
// could not know its length. A 1-3 byte tail is dropped. Returns 0 at either
// end, -1 on a read error or a failed write.
int encode_data_to_end(std::FILE* output, std::FILE* input, std::uint64_t limit = UINT64_MAX,
                       const FrameCoder& coder = kRuleCoder);

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_ENCODER_H
