#include "wave/canonical_header.h"

#include <cstring>

#include "wave/chunk_walk.h"

namespace {

constexpr std::uint32_t kFormatBodySize = 16;
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
  const bool fits = data_size <= kSizeUnknown - 1 - kRiffSizeOverhead;
  const std::uint32_t data_field = fits ? static_cast<std::uint32_t>(data_size) : kSizeUnknown;
  const std::uint32_t riff_field = fits ? data_field + kRiffSizeOverhead : kSizeUnknown;

  unsigned char header[kCanonicalHeaderSize];
  unsigned char* at = put_tag(header, "RIFF");
  at = put_le32(at, riff_field);
  at = put_tag(at, "WAVE");
  at = put_tag(at, "fmt ");
  at = put_le32(at, kFormatBodySize);
  at = put_le16(at, 1);          // PCM
  at = put_le16(at, 2);          // channels
  at = put_le32(at, 44100);      // samples per second
  at = put_le32(at, 44100 * 4);  // bytes per second
  at = put_le16(at, 4);          // bytes per frame
  at = put_le16(at, 16);         // bits per sample
  at = put_tag(at, "data");
  put_le32(at, data_field);
  return std::fwrite(header, 1, sizeof header, output) == sizeof header ? 0 : -1;
}
