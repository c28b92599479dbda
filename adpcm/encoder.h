// IMA ADPCM stream encoder: 16-bit stereo PCM in, one 4-bit code per sample out.
//
// Input frame (interleaved, little-endian, two's complement):
//
//   byte   0        1        2        3
//        +--------+--------+--------+--------+
//        | L low  | L high | R low  | R high |
//        +--------+--------+--------+--------+
//
// Output byte, one per frame, no header, no trailer:
//
//   bit    7   6   5   4   3   2   1   0
//        +---+---+---+---+---+---+---+---+
//        |   left code   |  right code   |
//        +---+---+---+---+---+---+---+---+
//
//   code bit 3: sign (set = predictor moves down); bits 2..0: magnitude 0..7.
//   Code 8 (sign set, magnitude 0) is valid and distinct from code 0.
//
// A reader gets the samples back by starting both channels at predictor 0 and
// step index 0 and applying each code in stream order; state runs across the
// whole stream, whatever data chunks the frames came from.
#ifndef WAV2IMA_ADPCM_ENCODER_H
#define WAV2IMA_ADPCM_ENCODER_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

constexpr int kChannels = 2;
constexpr int kBytesPerSample = 2;
constexpr int kBytesPerFrame = kChannels * kBytesPerSample;
constexpr std::int32_t kStepIndexMax = 88;
constexpr std::int32_t kSampleMin = -32768;
constexpr std::int32_t kSampleMax = 32767;
constexpr int kCodeBits = 4;
constexpr int kCodeMask = (1 << kCodeBits) - 1;

// Channel 0 is left (first sample of a frame), channel 1 right.
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

// Encodes the `count`-byte body of a data chunk, starting at the input's
// current offset, writing one byte per whole frame; a 1-3 byte tail is read
// and dropped. Both streams are borrowed. Returns:
//    0  the body was read and the input is left at entry offset + `count`;
//   -1  the input ended (or failed) inside the body: the frames before are
//       written, the input is not repositioned;
//   -1  a byte write failed, or the final seek failed (output then complete).
int encode_data_chunk(std::FILE* output, std::FILE* input, std::uint32_t count);

// Encodes frames from the input's current offset up to its end, or until
// `limit` bytes are read if that comes first, for a data chunk whose writer
// could not know its length. A 1-3 byte tail is dropped. Returns 0 at either
// end, -1 on a read error or a failed write.
int encode_data_to_end(std::FILE* output, std::FILE* input, std::uint64_t limit = UINT64_MAX);

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_ENCODER_H
