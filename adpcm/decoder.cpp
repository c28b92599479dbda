#include "adpcm/decoder.h"

#include <bit>
#include <cstring>

#include "adpcm/reconstruct.h"

namespace wav2ima {

namespace {

// Stream bytes per block: a block's frames (four times as many bytes) go out
// in one write. 32 KiB in and 128 KiB out stay in the cache; they are static,
// not on the stack, which is 128 KiB in all for a thread of musl-based
// systems and may be less under `ulimit -s`.
constexpr std::size_t kBlockBytes = std::size_t{32} * 1024;
unsigned char codes[kBlockBytes];
unsigned char frames[kBlockBytes * kBytesPerFrame];

// One frame, left sample in the low half: its little-endian bytes are the
// 16-bit samples in file order.
inline std::uint32_t frame_of(std::int32_t left, std::int32_t right) {
  return static_cast<std::uint16_t>(left) |
         static_cast<std::uint32_t>(static_cast<std::uint16_t>(right)) << 16;
}

inline void put_frame(unsigned char* at, std::uint32_t frame) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &frame, sizeof frame);
  } else {
    for (int i = 0; i < 4; ++i)
      at[i] = static_cast<unsigned char>(frame >> (8 * i));
  }
}

// Decodes `count` code bytes into one frame each, continuing `state`. Out of
// line and called once a block: a WebAssembly engine optimises a function
// between its calls, never during one.
[[gnu::noinline]] void decode_block(const unsigned char* codes, unsigned char* frames,
                                    std::size_t count, DecoderState& state) {
  // The state lives in locals: stores into the frame block could alias it.
  std::int32_t left_predictor = state.predictor[0];
  std::int32_t right_predictor = state.predictor[1];
  std::int32_t left_index = state.step_index[0];
  std::int32_t right_index = state.step_index[1];
  for (std::size_t i = 0; i < count; ++i) {
    apply_code(codes[i] >> kCodeBits, left_predictor, left_index);
    apply_code(codes[i] & kCodeMask, right_predictor, right_index);
    put_frame(frames + kBytesPerFrame * i, frame_of(left_predictor, right_predictor));
  }
  state = DecoderState{{left_predictor, right_predictor}, {left_index, right_index}};
}

}  // namespace

int decode_stream(std::FILE* output, std::FILE* input, DecoderState& state,
                  std::uint64_t& decoded) {
  decoded = 0;
  for (std::size_t got = kBlockBytes; got == kBlockBytes;) {
    got = std::fread(codes, 1, kBlockBytes, input);
    decode_block(codes, frames, got, state);
    decoded += got;
    if (std::fwrite(frames, kBytesPerFrame, got, output) != got) return -1;
  }
  return std::ferror(input) != 0 ? -1 : 0;
}

}  // namespace wav2ima
