// The RIFF/WAVE format as the converter reads it and ima2wav writes it: each
// fact once, for the walk, the summary, the canonical header and wavcheck.
// (The layouts are drawn in wave/chunk_walk.h.)
#ifndef WAV2IMA_WAVE_WAVE_FORMAT_H
#define WAV2IMA_WAVE_WAVE_FORMAT_H

#include <cstdint>

#include "adpcm/stream_format.h"

namespace wav2ima {

// Tags and identifiers, four bytes each, compared byte for byte.
constexpr int kTagSize = 4;
inline constexpr char kRiffTag[kTagSize + 1] = "RIFF";
inline constexpr char kWaveTag[kTagSize + 1] = "WAVE";
inline constexpr char kFormatChunkId[kTagSize + 1] = "fmt ";
inline constexpr char kDataChunkId[kTagSize + 1] = "data";
inline constexpr char kSamplerChunkId[kTagSize + 1] = "smpl";

constexpr int kSizeFieldSize = 4;
constexpr int kChunkHeaderSize = kTagSize + kSizeFieldSize;
constexpr int kRiffHeaderSize = kTagSize + kSizeFieldSize;
constexpr int kPreambleSize = kRiffHeaderSize + kTagSize;

// Sizes a writer streaming to a pipe puts in place of one it cannot know:
// 0xFFFFFFFF, and data sizes from 0x7FFF0000 up (see wave/chunk_walk.h).
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFF;
constexpr std::uint32_t kPlaceholderSizeMin = 0x7FFF0000;

// The format chunk's fields: offsets in its body, little-endian.
constexpr int kFormatTagAt = 0;    // 16 bits
constexpr int kChannelsAt = 2;     // 16 bits
constexpr int kSampleRateAt = 4;   // 32 bits
constexpr int kByteRateAt = 8;     // 32 bits: bytes per second
constexpr int kBlockAlignAt = 12;  // 16 bits: bytes per frame
constexpr int kBitsAt = 14;        // 16 bits per sample
constexpr int kFormatBytesRead = 16;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
// WAVE_FORMAT_EXTENSIBLE names the real format by a GUID at body bytes
// 24-39, whose first two bytes are a format tag and whose other fourteen are
// the same for every standard one.
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint32_t kExtensibleFormatSize = 40;
constexpr int kSubformatAt = 24;
constexpr int kSubformatSize = 16;
inline constexpr unsigned char kPcmSubformat[kSubformatSize] = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The one format the converter takes, and ima2wav writes.
constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kBitsPerSample = 8 * kBytesPerSample;
constexpr std::uint32_t kByteRate = kSampleRate * kBytesPerFrame;

// The bytes of a format chunk the converter tests, in the order it tests
// them: the low bytes of the tag, the channels and the rate, and the third
// byte of the bytes per second. Nothing else of the chunk is looked at.
struct TestedByte {
  int at;
  unsigned char value;
};
inline constexpr TestedByte kTestedBytes[] = {
    {kFormatTagAt, kFormatPcm & 0xFF},           {kChannelsAt, kChannels & 0xFF},
    {kSampleRateAt, kSampleRate & 0xFF},         {kSampleRateAt + 1, (kSampleRate >> 8) & 0xFF},
    {kByteRateAt + 2, (kByteRate >> 16) & 0xFF},
};

}  // namespace wav2ima

#endif  // WAV2IMA_WAVE_WAVE_FORMAT_H
