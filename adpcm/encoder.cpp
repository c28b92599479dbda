// The encoder: the process-wide state, the sample encoder and the data-chunk
// encoders around one frame loop. The build switch WAV2IMA_PLAIN_ENCODER
// swaps that loop alone for the plain reference design, the baseline the
// fast one is measured against: a locked byte call per byte and one division
// per sample.
#include "adpcm/encoder.h"

#include <limits>

#include "adpcm/quantiser.h"
#include "platform/stream_io.h"

namespace wav2ima {

EncoderState encoder_state;

namespace {

enum FramesEnd { kCountReached, kInputEnded, kFailed };

FramesEnd input_end(std::FILE* input) {
  return std::ferror(input) != 0 ? kFailed : kInputEnded;
}

std::int32_t sample_of(int low, int high) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

// Reads up to `count` bytes of interleaved frames from the input's offset and
// writes one byte per whole frame, continuing `encoder_state`. Every call
// starts a new frame at its first byte; a 1-3 byte tail is read and dropped.
// kInputEnded: the input ended first (the partial frame is lost);
// kFailed: a read error or a failed write.
#if !defined(WAV2IMA_PLAIN_ENCODER)

FramesEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count) {
  // The state lives in locals for the whole chunk: stores through the byte
  // streams' char pointers could alias the global record and force a reload
  // of the state for every sample.
  std::int32_t left_predictor = encoder_state.predictor[0];
  std::int32_t right_predictor = encoder_state.predictor[1];
  std::int32_t left_index = encoder_state.step_index[0];
  std::int32_t right_index = encoder_state.step_index[1];
  auto save = [&](FramesEnd end) {
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
    const int left_code = encode_sample_fast(sample_of(b0, b1), left_predictor, left_index);
    const int right_code = encode_sample_fast(sample_of(b2, b3), right_predictor, right_index);
    if (write_byte((left_code << kCodeBits) | right_code, output) == EOF) return save(kFailed);
  }
  for (std::uint64_t tail = count % kBytesPerFrame; tail > 0; --tail) {
    if (read_byte(input) == EOF) return save(input_end(input));
  }
  return save(kCountReached);
}

#else

FramesEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count) {
  EncoderState& state = encoder_state;
  int bytes[kBytesPerFrame] = {};
  int phase = 0;
  for (std::uint64_t countdown = count; countdown > 0; --countdown) {
    const int byte = std::fgetc(input);
    if (byte == EOF) return input_end(input);
    bytes[phase] = byte;
    if (++phase < kBytesPerFrame) continue;
    phase = 0;
    // Left before right: the output byte's nibble order follows the frame.
    const int left_code =
        encode_sample_plain(sample_of(bytes[0], bytes[1]), state.predictor[0], state.step_index[0]);
    const int right_code =
        encode_sample_plain(sample_of(bytes[2], bytes[3]), state.predictor[1], state.step_index[1]);
    if (std::fputc((left_code << kCodeBits) | right_code, output) == EOF) return kFailed;
  }
  return kCountReached;
}

#endif

}  // namespace

void reset_encoder_state() {
  encoder_state = EncoderState{{0, 0}, {0, 0}};
}

int encode_sample(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  return encode_sample_fast(sample, predictor, step_index);
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

}  // namespace wav2ima
