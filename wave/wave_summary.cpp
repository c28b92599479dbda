#include "wave/wave_summary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/stream_io.h"
#include "wave/chunk_walk.h"

namespace wav2ima {

namespace {

std::uint16_t le16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

struct Summarising {
  WaveSummary& summary;
  std::int64_t end;  // the input's length
};

}  // namespace

void read_format_fields(std::FILE* input, std::uint32_t size, WaveSummary& summary) {
  unsigned char body[kExtensibleFormatSize] = {};
  const std::size_t wanted = size < kExtensibleFormatSize ? size : kExtensibleFormatSize;
  if (wanted < kFormatBytesRead || std::fread(body, 1, wanted, input) != wanted) return;
  summary.has_format = true;
  summary.format = le16(body + kFormatTagAt);
  summary.channels = le16(body + kChannelsAt);
  summary.sample_rate = read_le32(body + kSampleRateAt);
  summary.byte_rate = read_le32(body + kByteRateAt);
  summary.bits_per_sample = le16(body + kBitsAt);
  // A standard subformat names the format by its first two bytes.
  const unsigned char* guid = body + kSubformatAt;
  if (summary.format == kFormatExtensible && wanted == kExtensibleFormatSize &&
      std::memcmp(guid + 2, kPcmSubformat + 2, kSubformatSize - 2) == 0) {
    summary.format = le16(guid);
  }
}

namespace {

// Takes in the format chunk's fields, whatever they are, and goes on.
ChunkEnd take_format(void* context, std::FILE* input, std::uint32_t size) {
  const std::int64_t entry = tell_stream(input);
  // untrusted size: the end of the body must be a representable offset.
  if (entry < 0 || entry > std::numeric_limits<std::int64_t>::max() - size) return kChunkFailed;
  read_format_fields(input, size, static_cast<Summarising*>(context)->summary);
  return seek_stream(input, entry + size, SEEK_SET) == 0 ? kNextChunk : kChunkFailed;
}

// Counts the data chunk's bytes as far as the file holds them and steps
// over them, ending where the converter's reads would end.
ChunkEnd take_data(void* context, std::FILE* input, DataBody body) {
  auto& [summary, end] = *static_cast<Summarising*>(context);
  const std::int64_t at = tell_stream(input);
  if (at < 0) return kChunkFailed;
  const std::int64_t available = std::max<std::int64_t>(end - at, 0);
  const std::int64_t wanted = body.extent == DataBody::kToTheEnd ? available : body.size;
  const std::int64_t taken = std::min(wanted, available);
  summary.data_bytes += static_cast<std::uint64_t>(taken);
  summary.frames += static_cast<std::uint64_t>(taken / kBytesPerFrame);
  if (seek_stream(input, at + taken, SEEK_SET) != 0) return kChunkFailed;
  if (body.extent == DataBody::kExactly) {
    summary.cut_short = summary.cut_short || taken < wanted;
    return taken < wanted ? kChunkFailed : kNextChunk;
  }
  return body.extent == DataBody::kToTheEnd || taken < wanted ? kInputEnded : kNextChunk;
}

std::int64_t length_of(std::FILE* input) {
  if (seek_stream(input, 0, SEEK_END) != 0) return -1;
  return tell_stream(input);
}

}  // namespace

int summarise_wave(std::FILE* input, WaveSummary& summary) {
  summary = WaveSummary{};
  const std::int64_t end = length_of(input);
  if (end < 0 || seek_stream(input, 0, SEEK_SET) != 0) return -1;
  std::uint32_t riff_size = 0;
  if (read_riff_header(input, riff_size) != 0 || read_wave_tag(input) != 0) return 0;
  summary.riff_wave = true;
  Summarising summarising{summary, end};
  // The walk fails here only where the file ends before a chunk it
  // announces does: a short chunk header or a data body past the end.
  if (walk_wave(input, ChunkVisitor{&summarising, take_format, take_data}) != 0) {
    summary.cut_short = true;
  }
  return 0;
}

namespace {

void add_refusal(Refusals& refusals, const char* format, auto... values) {
  if (refusals.count == kMaxRefusals) return;
  (void)std::snprintf(refusals.line[refusals.count++], kRefusalSize, format, values...);
}

}  // namespace

void format_refusals(const WaveSummary& wave, const char* program, Refusals& refusals) {
  refusals.count = 0;
  if (wave.format == kFormatFloat) {
    add_refusal(refusals, "floating-point samples, %s converts 16-bit PCM", program);
  } else if (wave.format != kFormatPcm) {
    add_refusal(refusals, "format 0x%04X is not PCM, %s converts 16-bit PCM", wave.format, program);
  }
  if (wave.channels == 1) {
    add_refusal(refusals, "mono: 1 channel, %s converts stereo", program);
  } else if (wave.channels != kChannels) {
    add_refusal(refusals, "%u channels, %s converts stereo", wave.channels, program);
  }
  if (wave.sample_rate != kSampleRate) {
    add_refusal(refusals, "%lu Hz, %s converts 44100 Hz",
                static_cast<unsigned long>(wave.sample_rate), program);
  }
  if (wave.bits_per_sample != kBitsPerSample && wave.format != kFormatFloat) {
    add_refusal(refusals, "%u-bit, %s converts 16-bit", wave.bits_per_sample, program);
  }
  // The converter reads the header's bytes per second too: wrong there
  // alone (a block alignment of 0 makes it 0), it is the one reason.
  if (refusals.count == 0 && wave.byte_rate != kByteRate) {
    add_refusal(refusals, "%lu bytes per second in its header, %s reads %lu",
                static_cast<unsigned long>(wave.byte_rate), program,
                static_cast<unsigned long>(kByteRate));
  }
}

}  // namespace wav2ima
