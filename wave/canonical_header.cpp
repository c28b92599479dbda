#include "wave/canonical_header.h"

#include <cstring>

#include "wave/wave_format.h"

namespace wav2ima {

namespace {

// Header bytes after the RIFF size field that the RIFF size counts.
constexpr std::uint32_t kRiffSizeOverhead = kCanonicalHeaderSize - kRiffHeaderSize;

unsigned char* put_le32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<unsigned char>(value >> (8 * i));
  return at + 4;
}

unsigned char* put_le16(unsigned char* at, std::uint16_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  return at + 2;
}

unsigned char* put_tag(unsigned char* at, const char* tag) {
  std::memcpy(at, tag, kTagSize);
  return at + kTagSize;
}

}  // namespace

int write_canonical_header(std::FILE* output, std::uint64_t data_size) {
  // untrusted size: a length too large for the 32-bit fields (or one that
  // would read as unknown) is written as unknown.
  const bool fits = data_size <= kSizeUnknown - 1 - kRiffSizeOverhead;
  const std::uint32_t data_field = fits ? static_cast<std::uint32_t>(data_size) : kSizeUnknown;
  const std::uint32_t riff_field = fits ? data_field + kRiffSizeOverhead : kSizeUnknown;

  unsigned char header[kCanonicalHeaderSize];
  unsigned char* at = put_tag(header, kRiffTag);
  at = put_le32(at, riff_field);
  at = put_tag(at, kWaveTag);
  at = put_tag(at, kFormatChunkId);
  at = put_le32(at, kFormatBytesRead);
  at = put_le16(at, kFormatPcm);
  at = put_le16(at, kChannels);
  at = put_le32(at, kSampleRate);
  at = put_le32(at, kByteRate);
  at = put_le16(at, kBytesPerFrame);
  at = put_le16(at, kBitsPerSample);
  at = put_tag(at, kDataChunkId);
  put_le32(at, data_field);
  return std::fwrite(header, 1, sizeof header, output) == sizeof header ? 0 : -1;
}

}  // namespace wav2ima
