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

// Frames per block: one read and one write a block instead of a library call
// per byte, which is what byte reads cost where the C library does not inline
// them (wasi-libc). 16 KiB in and 4 KiB out stay in the cache; static, not on
// the stack, as the decoder's blocks.
constexpr std::size_t kBlockFrames = kFramesPerBlock;
unsigned char frame_block[kBlockFrames * kBytesPerFrame];
unsigned char code_block[kBlockFrames + kMaxHeldFrames];

// Encodes `count` whole frames from `frames` into one code byte each,
// continuing `encoder_state`. Out of line and called once a block: a
// WebAssembly engine optimises a function between its calls, never during
// one, so one call for a whole chunk would run its first, unoptimised code.
[[gnu::noinline]] std::size_t encode_by_rule(void* /*context*/, const unsigned char* frames,
                                             std::size_t count, unsigned char* codes) {
  // The state lives in locals for the whole block: stores into the codes
  // through a char pointer could alias the global record and force a reload
  // of the state for every sample.
  std::int32_t left_predictor = encoder_state.predictor[0];
  std::int32_t right_predictor = encoder_state.predictor[1];
  std::int32_t left_index = encoder_state.step_index[0];
  std::int32_t right_index = encoder_state.step_index[1];
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* frame = frames + i * kBytesPerFrame;
    const int left_code =
        encode_sample_fast(sample_of(frame[0], frame[1]), left_predictor, left_index);
    const int right_code =
        encode_sample_fast(sample_of(frame[2], frame[3]), right_predictor, right_index);
    codes[i] = static_cast<unsigned char>((left_code << kCodeBits) | right_code);
  }
  encoder_state = EncoderState{{left_predictor, right_predictor}, {left_index, right_index}};
  return count;
}

// Reads up to `count` bytes of interleaved frames from the input's offset and
// writes the bytes `coder` decides for the whole frames. Every call starts a
// new frame at its first byte; a 1-3 byte tail is read and dropped.
// kInputEnded: the input ended first (the partial frame is lost);
// kFailed: a read error or a failed write.
FramesEnd encode_blocks(std::FILE* output, std::FILE* input, std::uint64_t count,
                        const FrameCoder& coder) {
  for (std::uint64_t frames = count / kBytesPerFrame; frames > 0;) {
    const std::size_t wanted =
        frames < kBlockFrames ? static_cast<std::size_t>(frames) : kBlockFrames;
    const std::size_t whole =
        std::fread(frame_block, 1, wanted * kBytesPerFrame, input) / kBytesPerFrame;
    const std::size_t decided = coder.encode(coder.context, frame_block, whole, code_block);
    if (std::fwrite(code_block, 1, decided, output) != decided) return kFailed;
    // The frames before the input's end are out; a partial frame is lost.
    if (whole < wanted) return input_end(input);
    frames -= whole;
  }
  const auto tail = static_cast<std::size_t>(count % kBytesPerFrame);
  if (std::fread(frame_block, 1, tail, input) != tail) return input_end(input);
  return kCountReached;
}

#if !defined(WAV2IMA_PLAIN_ENCODER)

FramesEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count,
                        const FrameCoder& coder) {
  return encode_blocks(output, input, count, coder);
}

#else

// The plain design of the rule: a locked byte call per byte, one division
// per sample. Other coders read blocks as in every build.
FramesEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count,
                        const FrameCoder& coder) {
  if (coder.encode != encode_by_rule) return encode_blocks(output, input, count, coder);
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

const FrameCoder kRuleCoder{nullptr, encode_by_rule};

void reset_encoder_state() {
  encoder_state = EncoderState{{0, 0}, {0, 0}};
}

int encode_sample(std::int32_t sample, std::int32_t& predictor, std::int32_t& step_index) {
  return encode_sample_fast(sample, predictor, step_index);
}

int encode_data_chunk(std::FILE* output, std::FILE* input, std::uint32_t count,
                      const FrameCoder& coder) {
  const std::int64_t entry = tell_stream(input);
  // untrusted size: the end of the body must be a representable offset.
  if (entry < 0 || entry > std::numeric_limits<std::int64_t>::max() - count) return -1;
  if (encode_frames(output, input, count, coder) != kCountReached) return -1;
  return seek_stream(input, entry + count, SEEK_SET);
}

int encode_data_to_end(std::FILE* output, std::FILE* input, std::uint64_t limit,
                       const FrameCoder& coder) {
  return encode_frames(output, input, limit, coder) != kFailed ? 0 : -1;
}

}  // namespace wav2ima
