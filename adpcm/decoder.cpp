#include "adpcm/decoder.h"

#include "adpcm/reconstruct.h"
#include "adpcm/stream_io.h"

namespace {

bool put_sample(std::int32_t sample, std::FILE* output) {
  const auto bits = static_cast<std::uint16_t>(sample);
  return write_byte(bits & 0xFF, output) != EOF && write_byte(bits >> 8, output) != EOF;
}

}  // namespace

int decode_stream(std::FILE* output, std::FILE* input, EncoderState& state,
                  std::uint64_t& decoded) {
  decoded = 0;
  for (int byte = read_byte(input); byte != EOF; byte = read_byte(input)) {
    ++decoded;
    apply_code(byte >> 4, state.predictor[0], state.step_index[0]);
    apply_code(byte & 0xF, state.predictor[1], state.step_index[1]);
    if (!put_sample(state.predictor[0], output) || !put_sample(state.predictor[1], output)) {
      return -1;
    }
  }
  return std::ferror(input) ? -1 : 0;
}
