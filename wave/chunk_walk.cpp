#include "wave/chunk_walk.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "adpcm/encoder.h"
#include "platform/stream_io.h"

namespace wav2ima {

namespace {

std::uint16_t read_le16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

bool tag_is(const unsigned char* bytes, const char (&tag)[kTagSize + 1]) {
  return std::memcmp(bytes, tag, kTagSize) == 0;
}

bool read_exactly(std::FILE* input, unsigned char* bytes, std::size_t count) {
  return std::fread(bytes, 1, count, input) == count;
}

// True when the input's offset is exactly its end: a walk over a file of
// unknown RIFF size may end there, but not beyond it (a skipped chunk that
// claimed more bytes than the file has) and not after a read error.
bool at_end_of_input(std::FILE* input) {
  if (std::ferror(input) != 0) return false;
  const std::int64_t offset = tell_stream(input);
  if (offset < 0 || seek_stream(input, 0, SEEK_END) != 0) return false;
  return tell_stream(input) == offset;
}

// Writers that follow the RIFF format put a 0x00 after an odd-sized body and
// count it in the RIFF size; others put nothing. An identifier never starts
// with 0x00, so that byte tells the two apart. True when a pad byte was
// consumed; any other byte is left for the next header read, and a read
// error for the walk to see.
bool skip_pad_byte(std::FILE* input) {
  const int byte = std::getc(input);
  if (byte == 0) return true;
  if (byte != EOF) (void)std::ungetc(byte, input);
  return false;
}

// A read that failed is never the end of the input: a reset connection or a
// pipe with nothing yet to read (EAGAIN) reads as EOF, with the error flag.
bool read_failed(std::FILE* input) {
  return std::ferror(input) != 0;
}

// Reads the rest of an extensible format's first 40 bytes into `body`, which
// holds the first 16. True when the body has them all and names PCM.
bool is_pcm_subformat(std::FILE* input, std::uint32_t size, unsigned char* body) {
  if (size < kExtensibleFormatSize) return false;
  if (!read_exactly(input, body + kFormatBytesRead, kExtensibleFormatSize - kFormatBytesRead)) {
    return false;
  }
  return std::memcmp(body + kSubformatAt, kPcmSubformat, sizeof kPcmSubformat) == 0;
}

enum HeaderRead { kHeaderRead, kCleanEnd, kHeaderFailed };

HeaderRead read_chunk_header(std::FILE* input, unsigned char* header, bool riff_size_unknown) {
  const std::size_t got = std::fread(header, 1, kChunkHeaderSize, input);
  if (got == kChunkHeaderSize) return kHeaderRead;
  // A streaming writer that could not know the RIFF size ends its file after
  // the last chunk; a partial header is still a cut-off file.
  if (got == 0 && riff_size_unknown && at_end_of_input(input)) return kCleanEnd;
  return kHeaderFailed;
}

// True when more bytes follow; the byte looked at is left for the next read.
// False at the end of the input and on a read error (which read_failed tells).
bool input_goes_on(std::FILE* input) {
  const int byte = std::getc(input);
  return byte != EOF && std::ungetc(byte, input) != EOF;
}

// A writer streaming to a pipe cannot come back to fill in the data size, so
// it writes a placeholder: 0xFFFFFFFF, the largest signed or unsigned size it
// can (0x7FFFFFFF, 0x80000000, 0x7FFFF000, 0x7FFF0000, 0xFFFFFFFC seen), or 0
// under a RIFF size that ends with this chunk. The end of the input then
// ends the body normally; a smaller size cut short is a truncated file.
DataBody data_body(std::FILE* input, std::uint32_t size, std::int64_t remaining) {
  const bool empty_placeholder = size == 0 && remaining <= 0 && input_goes_on(input);
  if (size == kSizeUnknown || empty_placeholder) return {DataBody::kToTheEnd, size};
  if (size >= kPlaceholderSizeMin) return {DataBody::kAtMost, size};
  return {DataBody::kExactly, size};
}

// True for a chunk the visitor acts on; others are stepped over.
bool is_visited(const ChunkVisitor& visitor, const unsigned char* header) {
  return is_format_chunk(header) != 0 || is_data_chunk(header) != 0 ||
         (visitor.sampler != nullptr && tag_is(header, kSamplerChunkId));
}

ChunkEnd handle_chunk(std::FILE* input, const ChunkVisitor& visitor, const unsigned char* header,
                      std::uint32_t size, std::int64_t remaining) {
  if (is_data_chunk(header) != 0) {
    const DataBody body = data_body(input, size, remaining);
    if (read_failed(input)) return kChunkFailed;
    return visitor.data(visitor.context, input, body);
  }
  if (is_format_chunk(header) != 0) return visitor.format(visitor.context, input, size);
  if (visitor.sampler != nullptr && tag_is(header, kSamplerChunkId)) {
    return visitor.sampler(visitor.context, input, size);
  }
  // untrusted size: the offset cannot overflow, as every chunk takes its
  // size from `remaining`, a 32-bit budget, so the walk never moves more than
  // a few GiB from offset 0.
  return seek_stream(input, size, SEEK_CUR) == 0 ? kNextChunk : kChunkFailed;
}

}  // namespace

// The converter's chunks: the format tested, the data encoded to the output.
ChunkEnd test_format(void* /*conversion_record*/, std::FILE* input, std::uint32_t size) {
  return check_format_chunk(input, size) == 0 ? kNextChunk : kChunkFailed;
}

int start_output(Conversion& conversion) {
  if (conversion.started || conversion.start.start == nullptr) return 0;
  conversion.started = true;
  return conversion.start.start(conversion.start.context);
}

ChunkEnd encode_data(void* conversion_record, std::FILE* input, DataBody body) {
  auto& conversion = *static_cast<Conversion*>(conversion_record);
  if (start_output(conversion) != 0) return kChunkFailed;
  std::FILE* output = conversion.output;
  const FrameCoder* coder = conversion.coder;
  switch (body.extent) {
    case DataBody::kToTheEnd:
      return encode_data_to_end(output, input, UINT64_MAX, *coder) == 0 ? kInputEnded
                                                                        : kChunkFailed;
    case DataBody::kAtMost:
      if (encode_data_to_end(output, input, body.size, *coder) != 0) return kChunkFailed;
      // A real recording of this size was read whole and the walk goes on.
      return std::feof(input) != 0 ? kInputEnded : kNextChunk;
    case DataBody::kExactly:
      break;
  }
  return encode_data_chunk(output, input, body.size, *coder) == 0 ? kNextChunk : kChunkFailed;
}

std::uint32_t read_le32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

int is_format_chunk(const unsigned char* header) {
  return tag_is(header, kFormatChunkId) ? 1 : 0;
}

int is_data_chunk(const unsigned char* header) {
  return tag_is(header, kDataChunkId) ? 1 : 0;
}

int read_sampler_loop(std::FILE* input, std::uint32_t size, SamplerLoop& loop) {
  constexpr std::uint32_t kLoopCountAt = 28;
  constexpr std::uint32_t kFirstLoopStartAt = 44;
  constexpr std::uint32_t kFirstLoopEnd = 60;  // the first loop's last byte, plus 1
  unsigned char body[kFirstLoopEnd];
  const std::uint32_t taken = std::min(size, kFirstLoopEnd);
  loop = SamplerLoop{false, 0, 0};
  if (!read_exactly(input, body, taken)) return -1;
  if (taken == kFirstLoopEnd && read_le32(body + kLoopCountAt) > 0) {
    loop.start = read_le32(body + kFirstLoopStartAt);
    loop.end = read_le32(body + kFirstLoopStartAt + kTagSize);
    loop.found = loop.start <= loop.end;
  }
  // untrusted size: at most 2^32 - 1 bytes ahead, as a skipped chunk.
  return seek_stream(input, size - taken, SEEK_CUR) == 0 ? 0 : -1;
}

int read_riff_header(std::FILE* input, std::uint32_t& riff_size) {
  unsigned char header[kRiffHeaderSize];
  if (!read_exactly(input, header, sizeof header) || !tag_is(header, kRiffTag)) return -1;
  riff_size = read_le32(header + kTagSize);
  return 0;
}

int read_wave_tag(std::FILE* input) {
  unsigned char tag[kTagSize];
  return read_exactly(input, tag, sizeof tag) && tag_is(tag, kWaveTag) ? 0 : -1;
}

int check_format_chunk(std::FILE* input, std::uint32_t size) {
  const std::int64_t entry = tell_stream(input);
  // untrusted size: the end of the body must be a representable offset.
  if (entry < 0 || entry > std::numeric_limits<std::int64_t>::max() - size) return -1;
  unsigned char body[kExtensibleFormatSize];
  if (!read_exactly(input, body, kFormatBytesRead)) return -1;
  const bool extensible = read_le16(body + kFormatTagAt) == kFormatExtensible;
  if (extensible && !is_pcm_subformat(input, size, body)) return -1;
  // An extensible format passes the tag's test by its PCM subformat.
  for (const TestedByte& tested : kTestedBytes) {
    if (body[tested.at] != tested.value && !(extensible && tested.at == kFormatTagAt)) return -1;
  }
  // A body shorter than 16 bytes made the read run into the next header;
  // this absolute seek brings the input back to it.
  return seek_stream(input, entry + size, SEEK_SET);
}

namespace {

// What ended a read that came up short: the input, or a failed read.
WalkFailure short_read(std::FILE* input, WalkFailure ended) {
  return read_failed(input) ? WalkFailure::kReadFailed : ended;
}

// The walk proper: kNone at a good end, else why it failed.
WalkFailure walk_chunks(std::FILE* input, const ChunkVisitor& visitor) {
  if (seek_stream(input, 0, SEEK_SET) != 0) return WalkFailure::kReadFailed;
  std::uint32_t riff_size = 0;
  if (read_riff_header(input, riff_size) != 0 || read_wave_tag(input) != 0) {
    return short_read(input, WalkFailure::kNotWave);
  }
  const bool riff_size_unknown = riff_size == kSizeUnknown;

  // untrusted size: 64-bit signed, every 32-bit size and its header fit
  // without wrapping, so the count only ever falls and the walk always ends.
  std::int64_t remaining = std::int64_t{riff_size} - kTagSize;
  bool pad_may_follow = false;
  while (remaining > 0) {
    if (pad_may_follow) {
      pad_may_follow = false;
      if (skip_pad_byte(input)) {
        remaining -= 1;
        continue;
      }
      if (read_failed(input)) return WalkFailure::kReadFailed;
    }
    unsigned char header[kChunkHeaderSize];
    const HeaderRead read = read_chunk_header(input, header, riff_size_unknown);
    if (read == kCleanEnd) return WalkFailure::kNone;
    if (read == kHeaderFailed) return short_read(input, WalkFailure::kCutShort);

    const std::uint32_t size = read_le32(header + kTagSize);
    // Counted before the chunk is handled, so the walk ends after the chunk
    // that uses up the count even when its body reaches past the RIFF body.
    remaining -= std::int64_t{size} + kChunkHeaderSize;
    const ChunkEnd end = handle_chunk(input, visitor, header, size, remaining);
    // A skipped chunk fails only on its seek.
    if (end == kChunkFailed) {
      return is_visited(visitor, header) ? WalkFailure::kChunkFailed : WalkFailure::kReadFailed;
    }
    // A data chunk has run to the end of the input.
    if (end == kInputEnded) return WalkFailure::kNone;
    pad_may_follow = size % 2 != 0;
  }
  return read_failed(input) ? WalkFailure::kReadFailed : WalkFailure::kNone;
}

}  // namespace

int walk_wave(std::FILE* input, const ChunkVisitor& visitor, WalkFailure* failure) {
  const WalkFailure why = walk_chunks(input, visitor);
  if (failure != nullptr) *failure = why;
  return why == WalkFailure::kNone ? 0 : -1;
}

int convert_file(std::FILE* output, std::FILE* input) {
  return convert_file(output, input, kRuleCoder, OutputStart{nullptr, nullptr});
}

int convert_file(std::FILE* output, std::FILE* input, const FrameCoder& coder,
                 const OutputStart& start) {
  Conversion conversion{output, &coder, start, false};
  if (walk_wave(input, ChunkVisitor{&conversion, test_format, encode_data}) != 0) return -1;
  return start_output(conversion);
}

}  // namespace wav2ima
