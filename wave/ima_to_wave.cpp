#include "wave/ima_to_wave.h"

#include <algorithm>

#include "adpcm/decoder.h"
#include "platform/stream_io.h"
#include "wave/canonical_header.h"

namespace wav2ima {

namespace {

// One stream byte a frame: each stands for a frame of samples.
constexpr std::uint64_t kSampleBytesPerStreamByte = kBytesPerFrame;
// Written as 0xFFFFFFFF in both sizes: length unknown.
constexpr std::uint64_t kUnknownDataSize = UINT64_MAX;

// Writes the header at `header_at` again, with the sizes of the whole frames
// the file holds after it: every decoded frame once all writes went through,
// fewer after a write that failed. Then back to the end of what reached the
// file, where a writer after this program goes on.
int settle_header(std::FILE* output, std::int64_t header_at, std::uint64_t decoded) {
  // A failed write leaves the stream's error flag; this is a write of its own.
  std::clearerr(output);
  const std::int64_t end = written_end(output);
  if (end < 0) return -1;
  const std::int64_t samples_at = header_at + kCanonicalHeaderSize;
  const std::uint64_t held = end > samples_at ? static_cast<std::uint64_t>(end - samples_at) : 0;
  const std::uint64_t data_size =
      std::min(held - held % kBytesPerFrame, decoded * kSampleBytesPerStreamByte);
  if (seek_stream(output, header_at, SEEK_SET) != 0) return -1;
  if (write_canonical_header(output, data_size) != 0 || std::fflush(output) != 0) return -1;
  return seek_stream(output, end, SEEK_SET);
}

}  // namespace

int convert_ima_file(std::FILE* output, std::FILE* input, std::int64_t input_length,
                     bool output_appends) {
  const bool length_known = input_length >= 0;
  // untrusted size: a length from the file system, far below 2^62.
  if (length_known &&
      static_cast<std::uint64_t>(input_length) > UINT64_MAX / kSampleBytesPerStreamByte) {
    return -1;
  }
  // Where this output began, which is not offset 0 after text another
  // program wrote to the same file; -1 on an output that cannot go back to
  // it (a pipe, a file that only appends).
  const std::int64_t header_at = output_appends ? -1 : tell_stream(output);
  // An output that can go back says "length unknown" until the last sample
  // is out, so that a run ended early (killed, a full disk) never leaves a
  // header promising samples that are not there. One that cannot go back
  // gets the sizes a regular input promises, as from any streaming writer.
  const std::uint64_t promised =
      length_known && header_at < 0
          ? static_cast<std::uint64_t>(input_length) * kSampleBytesPerStreamByte
          : kUnknownDataSize;
  if (write_canonical_header(output, promised) != 0) return -1;

  DecoderState state{{0, 0}, {0, 0}};
  std::uint64_t decoded = 0;
  const int result = decode_stream(output, input, state, decoded);
  const bool flushed = std::fflush(output) == 0;
  if (header_at >= 0) {
    const bool settled = settle_header(output, header_at, decoded) == 0;
    return result == 0 && flushed && settled ? 0 : -1;
  }
  // The sizes went out first: an input of another length leaves them wrong.
  const bool as_promised =
      promised == kUnknownDataSize || decoded * kSampleBytesPerStreamByte == promised;
  return result == 0 && flushed && as_promised ? 0 : -1;
}

}  // namespace wav2ima
