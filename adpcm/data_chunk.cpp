#include <limits>

#include "adpcm/encode_frames.h"
#include "adpcm/encoder.h"
#include "adpcm/stream_io.h"

EncoderState encoder_state;

void reset_encoder_state() {
  encoder_state = EncoderState{{0, 0}, {0, 0}};
}

int encode_data_chunk(std::FILE* output, std::FILE* input, std::uint32_t count) {
  const std::int64_t entry = tell_stream(input);
  // untrusted size: the end of the body must be a representable offset.
  if (entry < 0 || entry > std::numeric_limits<std::int64_t>::max() - count) return -1;
  if (encode_frames(output, input, count) != kCountReached) return -1;
  return seek_stream(input, entry + count, SEEK_SET);
}

int encode_data_to_end(std::FILE* output, std::FILE* input, std::uint64_t limit) {
  return encode_frames(output, input, limit) != kFailed ? 0 : -1;
}
