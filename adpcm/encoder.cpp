// The fast encoder. The cost is the serial chain from one sample's predictor
// to the next, so the chain holds no division and no branch on the sign: the
// quotient comes from a per-step reciprocal, the reconstruction from a table.
#include <cstdlib>

#include "adpcm/encode_frames.h"
#include "adpcm/encoder.h"
#include "adpcm/reconstruct.h"
#include "adpcm/stream_io.h"
#include "adpcm/tables.h"

namespace {

// Out of line and cold, so the compiler keeps the clamp of a quotient above
// 15 a predicted branch instead of a conditional move on the serial chain.
[[gnu::noinline, gnu::cold]] std::uint64_t largest_quotient() {
  return kQuotients - 1;
}

inline int quantise(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  const std::int64_t diff = std::int64_t{sample} - predictor;
  // 0 or 1 without a branch: the sign is a coin toss on real audio.
  const auto below = static_cast<std::size_t>(static_cast<std::uint64_t>(diff) >> 63);
  const CodeStep* row = kQuantiserSteps.entry[step_index] + below * kQuotients;
  // The row is ready before the quotient; kept opaque, the compiler cannot
  // re-associate its sum after the quotient, so the load adds only the quotient.
  asm("" : "+r"(row));
  const auto distance = static_cast<std::uint64_t>(std::abs(diff));
  // distance <= 65535 and the reciprocal < 2^32: the product fits in 64 bits.
  auto quotient = distance * kStepReciprocal[static_cast<std::size_t>(step_index)] >> 31;
  if (__builtin_expect(quotient >= kQuotients, 0)) quotient = largest_quotient();
  return apply_code_step(row[quotient], predictor, step_index);
}

inline std::int32_t sample_of(int low, int high) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

EncodeEnd input_end(std::FILE* input) {
  return std::ferror(input) ? kFailed : kInputEnded;
}

}  // namespace

int encode_sample(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  return quantise(sample, predictor, step_index);
}

EncodeEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count) {
  // The state lives in locals for the whole chunk: stores through the byte
  // streams' char pointers could alias the global record and force a reload
  // of the state for every sample.
  std::int32_t left_predictor = encoder_state.predictor[0];
  std::int32_t right_predictor = encoder_state.predictor[1];
  std::int32_t left_index = encoder_state.step_index[0];
  std::int32_t right_index = encoder_state.step_index[1];
  auto save = [&](EncodeEnd end) {
    encoder_state = EncoderState{{left_predictor, right_predictor}, {left_index, right_index}};
    return end;
  };

  for (std::uint64_t frames = count / kBytesPerFrame; frames > 0; --frames) {
    const int b0 = read_byte(input);
    const int b1 = read_byte(input);
    const int b2 = read_byte(input);
    const int b3 = read_byte(input);
    // EOF is negative, every byte is not: one test for the four reads.
    if ((b0 | b1 | b2 | b3) < 0) return save(input_end(input));
    const int left_code = quantise(sample_of(b0, b1), left_predictor, left_index);
    const int right_code = quantise(sample_of(b2, b3), right_predictor, right_index);
    if (write_byte((left_code << 4) | right_code, output) == EOF) return save(kFailed);
  }
  for (std::uint64_t tail = count % kBytesPerFrame; tail > 0; --tail) {
    if (read_byte(input) == EOF) return save(input_end(input));
  }
  return save(kCountReached);
}
