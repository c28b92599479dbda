#include "wave/ima_to_wave.h"

#include "adpcm/decoder.h"
#include "platform/stream_io.h"
#include "wave/canonical_header.h"

namespace wav2ima {

namespace {

constexpr std::uint64_t kSampleBytesPerStreamByte = 4;

}  // namespace

int convert_ima_file(std::FILE* output, std::FILE* input, std::int64_t input_length,
                     bool output_appends) {
  const bool length_known = input_length >= 0;
  // untrusted size: a length from the file system, far below 2^62.
  if (length_known &&
      static_cast<std::uint64_t>(input_length) > UINT64_MAX / kSampleBytesPerStreamByte) {
    return -1;
  }
  const std::uint64_t promised =
      length_known ? static_cast<std::uint64_t>(input_length) * kSampleBytesPerStreamByte
                   : UINT64_MAX;
  // Where this output began, which is not offset 0 after text another
  // program wrote to the same file; -1 on an output that cannot tell (a pipe).
  const std::int64_t header_at = output_appends ? -1 : tell_stream(output);
  if (write_canonical_header(output, promised) != 0) return -1;

  EncoderState state{{0, 0}, {0, 0}};
  std::uint64_t decoded = 0;
  if (decode_stream(output, input, state, decoded) != 0) return -1;
  const std::uint64_t data_size = decoded * kSampleBytesPerStreamByte;
  if (std::fflush(output) != 0) return -1;
  if (length_known && data_size == promised) return 0;
  // The header says "unknown" or a length the input did not have. An output
  // that cannot go back (a pipe, a file in append mode) keeps it: only an
  // honest "unknown" may stay.
  const std::int64_t end = header_at < 0 ? -1 : tell_stream(output);
  if (end < 0 || seek_stream(output, header_at, SEEK_SET) != 0) return length_known ? -1 : 0;
  if (write_canonical_header(output, data_size) != 0) return -1;
  // Back to the end of this output, not of the file: a writer after this
  // program goes on from there.
  return seek_stream(output, end, SEEK_SET);
}

}  // namespace wav2ima
