#include <limits>

#include <sys/types.h>

#include "adpcm/encode_frames.h"
#include "adpcm/encoder.h"

EncoderState encoder_state;

void reset_encoder_state() {
  encoder_state = EncoderState{{0, 0}, {0, 0}};
}

int encode_data_chunk(std::FILE* output, std::FILE* input, std::uint32_t count) {
  const off_t entry = ftello(input);
  // untrusted size: the end of the body must be a representable offset.
  if (entry < 0 || entry > std::numeric_limits<off_t>::max() - count) return -1;
  if (encode_frames(output, input, count) != kCountReached) return -1;
  return fseeko(input, entry + count, SEEK_SET) == 0 ? 0 : -1;
}

int encode_data_to_end(std::FILE* output, std::FILE* input, std::uint64_t limit) {
  return encode_frames(output, input, limit) != kFailed ? 0 : -1;
}
