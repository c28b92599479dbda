#include "wave/ima_to_wave.h"

#include "adpcm/decoder.h"
#include "adpcm/stream_io.h"
#include "wave/canonical_header.h"

namespace wav2ima {

namespace {

constexpr std::uint64_t kSampleBytesPerStreamByte = 4;

}  // namespace

int convert_ima_file(std::FILE* output, std::FILE* input, std::int64_t input_length) {
  const bool length_known = input_length >= 0;
  // untrusted size: a length from the file system, far below 2^62.
  if (length_known &&
      static_cast<std::uint64_t>(input_length) > UINT64_MAX / kSampleBytesPerStreamByte) {
    return -1;
  }
  const std::uint64_t promised =
      length_known ? static_cast<std::uint64_t>(input_length) * kSampleBytesPerStreamByte
                   : UINT64_MAX;
  if (write_canonical_header(output, promised) != 0) return -1;

  EncoderState state{{0, 0}, {0, 0}};
  std::uint64_t decoded = 0;
  if (decode_stream(output, input, state, decoded) != 0) return -1;
  const std::uint64_t data_size = decoded * kSampleBytesPerStreamByte;
  if (std::fflush(output) != 0) return -1;
  if (length_known && data_size == promised) return 0;
  // The header says "unknown" or a length the input did not have. An output
  // that cannot go back (a pipe) keeps it: only an honest "unknown" may stay.
  if (seek_stream(output, 0, SEEK_SET) != 0) return length_known ? -1 : 0;
  if (write_canonical_header(output, data_size) != 0) return -1;
  return seek_stream(output, 0, SEEK_END);
}

}  // namespace wav2ima
