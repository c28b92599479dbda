// The stream wav2ima writes and ima2wav reads, and the PCM frames on either
// side of it: the facts every part that reads or writes them shares.
//
// PCM frame (interleaved 16-bit stereo, little-endian, two's complement):
//
//   byte   0        1        2        3
//        +--------+--------+--------+--------+
//        | L low  | L high | R low  | R high |
//        +--------+--------+--------+--------+
//
// Stream byte, one per frame, no header, no trailer:
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
#ifndef WAV2IMA_ADPCM_STREAM_FORMAT_H
#define WAV2IMA_ADPCM_STREAM_FORMAT_H

#include <cstdint>

namespace wav2ima {

constexpr int kChannels = 2;  // channel 0 is left (first in a frame), 1 right
constexpr int kBytesPerSample = 2;
constexpr int kBytesPerFrame = kChannels * kBytesPerSample;
constexpr std::int32_t kSampleMin = -32768;
constexpr std::int32_t kSampleMax = 32767;
constexpr int kCodeBits = 4;
constexpr int kCodeMask = (1 << kCodeBits) - 1;
constexpr int kSignBit = 8;
constexpr int kMagnitudeBits = 7;
constexpr std::int32_t kStepIndexMax = 88;

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_STREAM_FORMAT_H
