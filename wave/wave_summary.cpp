#include "wave/wave_summary.h"

#include <algorithm>
#include <cstring>

#include "platform/stream_io.h"
#include "wave/chunk_walk.h"

namespace wav2ima {

namespace {

constexpr std::size_t kExtensibleBodySize = 40;
constexpr std::size_t kSubformatOffset = 24;
// Every standard subformat GUID ends so; its first two bytes are the tag.
constexpr unsigned char kStandardGuidTail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t le16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

void read_format(std::FILE* input, std::uint32_t size, WaveSummary& summary) {
  unsigned char body[kExtensibleBodySize] = {};
  const std::size_t wanted = size < kExtensibleBodySize ? size : kExtensibleBodySize;
  if (wanted < kFormatBytesRead || std::fread(body, 1, wanted, input) != wanted) return;
  summary.has_format = true;
  summary.format = le16(body);
  summary.channels = le16(body + 2);
  summary.sample_rate = read_le32(body + 4);
  summary.byte_rate = read_le32(body + 8);
  summary.bits_per_sample = le16(body + 14);
  const unsigned char* guid = body + kSubformatOffset;
  if (summary.format == kFormatTagExtensible && wanted == kExtensibleBodySize &&
      std::memcmp(guid + 2, kStandardGuidTail, sizeof kStandardGuidTail) == 0) {
    summary.format = le16(guid);
  }
}

std::int64_t length_of(std::FILE* input) {
  if (seek_stream(input, 0, SEEK_END) != 0) return -1;
  return tell_stream(input);
}

enum ChunkSeen { kWalkOn, kWalkEnds, kReadFailed };

// Takes in the chunk whose header starts at `at`, and moves `at` past it.
ChunkSeen see_chunk(std::FILE* input, std::int64_t& at, std::int64_t end, WaveSummary& summary) {
  unsigned char header[kChunkHeaderSize];
  if (seek_stream(input, at, SEEK_SET) != 0) return kReadFailed;
  if (std::fread(header, 1, kChunkHeaderSize, input) != kChunkHeaderSize) {
    summary.cut_short = true;
    return kWalkEnds;
  }
  const std::uint32_t size = read_le32(header + kTagSize);
  if (is_format_chunk(header) != 0) read_format(input, size, summary);
  const std::int64_t body_at = at + kChunkHeaderSize;
  at = body_at + size;
  // A writer streaming to a pipe puts a placeholder as the data size: the
  // samples run to the end of the file, wherever that is.
  const bool placeholder = is_data_chunk(header) != 0 && size >= kPlaceholderSizeMin;
  if (is_data_chunk(header) != 0) {
    summary.data_bytes +=
        static_cast<std::uint64_t>((placeholder ? end : std::min(at, end)) - body_at);
  }
  summary.cut_short = !placeholder && at > end;
  return placeholder || at > end ? kWalkEnds : kWalkOn;
}

}  // namespace

int summarise_wave(std::FILE* input, WaveSummary& summary) {
  summary = WaveSummary{};
  const std::int64_t end = length_of(input);
  if (end < 0 || seek_stream(input, 0, SEEK_SET) != 0) return -1;
  std::uint32_t riff_size = 0;
  if (read_riff_header(input, riff_size) != 0 || read_wave_tag(input) != 0) return 0;
  summary.riff_wave = true;

  // untrusted size: 64-bit, as in the converter's walk, and the walk stops
  // at the end of the file, so it always ends.
  const std::int64_t riff_end =
      riff_size == kSizeUnknown ? end : std::int64_t{riff_size} + kRiffHeaderSize;
  std::int64_t at = kPreambleSize;
  ChunkSeen seen = kWalkOn;
  while (seen == kWalkOn && at < std::min(riff_end, end))
    seen = see_chunk(input, at, end, summary);
  if (seen == kReadFailed) return -1;
  // The RIFF size announces more than the file holds.
  if (riff_end > end) summary.cut_short = true;
  return 0;
}

}  // namespace wav2ima
