// The plain reference design: a locked byte read or write per byte and one
// hardware division per sample. Kept as the baseline the fast encoder is
// measured against (build with -DWAV2IMA_PLAIN_ENCODER=ON).
#include <algorithm>

#include "adpcm/encode_frames.h"
#include "adpcm/encoder.h"
#include "adpcm/tables.h"

int encode_sample(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  const std::int32_t step = kStepTable[step_index];
  // |sample - predictor| <= 65535, so the product stays within +-524280.
  const std::int32_t quotient = std::clamp((sample - predictor) * 8 / step, -15, 15);
  const std::int32_t m = quotient < 0 ? -quotient : quotient;
  // Truncation toward zero maps m = 0 to magnitude 0 as well.
  const std::int32_t magnitude = (m - 1) / 2;
  const int code = magnitude | (quotient < 0 ? 8 : 0);

  const std::int32_t delta = (2 * magnitude + 1) * step / 8;
  predictor =
      std::clamp(quotient < 0 ? predictor - delta : predictor + delta, kSampleMin, kSampleMax);
  step_index = std::clamp(step_index + kIndexTable[magnitude], 0, kStepIndexMax);
  return code;
}

namespace {

std::int32_t sign_extend_16(std::int32_t low, std::int32_t high) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

}  // namespace

EncodeEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count) {
  EncoderState& state = encoder_state;
  std::int32_t bytes[kBytesPerFrame] = {};
  int phase = 0;
  for (std::uint64_t countdown = count; countdown > 0; --countdown) {
    const int byte = std::fgetc(input);
    if (byte == EOF) return std::ferror(input) ? kFailed : kInputEnded;
    bytes[phase] = byte;
    if (++phase < kBytesPerFrame) continue;
    phase = 0;
    const std::int32_t left = sign_extend_16(bytes[0], bytes[1]);
    const std::int32_t right = sign_extend_16(bytes[2], bytes[3]);
    // Left before right: the output byte's nibble order follows the frame.
    const int left_code = encode_sample(left, state.predictor[0], state.step_index[0]);
    const int right_code = encode_sample(right, state.predictor[1], state.step_index[1]);
    if (std::fputc((left_code << 4) | right_code, output) == EOF) return kFailed;
  }
  return kCountReached;
}
