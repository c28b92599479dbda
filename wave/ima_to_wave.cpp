#include "wave/ima_to_wave.h"

#include <cstdint>

#include <sys/types.h>

#include "adpcm/decoder.h"
#include "wave/canonical_header.h"

namespace {

// The input's length in bytes, leaving it at offset 0; -1 when it cannot seek.
off_t stream_length(std::FILE* input) {
  if (fseeko(input, 0, SEEK_END) != 0) return -1;
  const off_t length = ftello(input);
  return fseeko(input, 0, SEEK_SET) == 0 ? length : -1;
}

}  // namespace

int convert_ima_file(std::FILE* output, std::FILE* input) {
  const off_t length = stream_length(input);
  // untrusted size: each stream byte becomes four, which must fit in 64 bits.
  if (length < 0 || static_cast<std::uint64_t>(length) > UINT64_MAX / 4) return -1;
  const std::uint64_t data_size = static_cast<std::uint64_t>(length) * 4;
  if (write_canonical_header(output, data_size) != 0) return -1;
  EncoderState state{{0, 0}, {0, 0}};
  return decode_stream(output, input, state);
}
