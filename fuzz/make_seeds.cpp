// Writes the fuzz seed corpus: one small named file per shape of input the
// walk treats differently.
//
//   wav2ima_make_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "tests/wav_builder.h"

namespace {

struct Seed {
  const char* name;
  Bytes bytes;
};

std::vector<Seed> seeds() {
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes data = chunk("data", loud_frames(4));
  Bytes fmt14 = fmt16();
  fmt14.resize(14);
  Bytes mono = fmt16();
  mono[2] = 1;
  Bytes extensible =
      fmt16() + Bytes{22,   0,    16,   0,    3,    0,    0,    0,    0x01, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  extensible[0] = 0xFE;
  extensible[1] = 0xFF;
  Bytes extensible_float = extensible;
  extensible_float[24] = 0x03;
  return {
      {"example_60.wav", example60()},
      {"padded_odd_list.wav", riff(fmt + chunk("LIST", text("abc")) + Bytes{0} + data)},
      {"unpadded_odd_list.wav", riff(fmt + chunk("LIST", text("abc")) + data)},
      {"streaming_unknown_sizes.wav",
       riff(0xFFFFFFFF, fmt + chunk("data", 0xFFFFFFFF, loud_frames(3) + Bytes{1, 2}))},
      {"data_cut_short.wav", riff(fmt + chunk("data", 64, loud_frames(2)))},
      {"two_data_chunks.wav",
       riff(fmt + chunk("data", loud_frames(1)) + chunk("data", loud_frames(2)))},
      {"fmt_size_14.wav", riff(chunk("fmt ", fmt14) + data)},
      {"fmt_size_0.wav", riff(chunk("fmt ", {}) + data)},
      {"fmt_mono.wav", riff(chunk("fmt ", mono) + data)},
      {"data_before_fmt.wav", riff(data + fmt)},
      {"odd_data_chunk_padded.wav",
       riff(fmt + chunk("data", loud_frames(1) + Bytes{5}) + Bytes{0} + data)},
      {"list_size_fffffff8.wav", riff(0xFFFFFFFE, fmt + chunk("LIST", 0xFFFFFFF8, {}) + data)},
      {"riff_size_80000004.wav", riff(0x80000004, fmt + data)},
      {"riff_size_4.wav", riff(4, fmt + data)},
      {"not_wave.wav", text("RIFF") + le32(12) + text("AVI ") + data},
      {"data_size_7fffffff_cut_short.wav",
       riff(0x80000023, fmt + chunk("data", 0x7FFFFFFF, loud_frames(3) + Bytes{1}))},
      {"empty_data_then_samples.wav", riff(36, fmt + chunk("data", {}) + loud_frames(3))},
      {"extensible_pcm.wav", riff(chunk("fmt ", extensible) + data)},
      {"extensible_float.wav", riff(chunk("fmt ", extensible_float) + data)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wav2ima_make_seeds DIR\n");
    return 2;
  }
  for (const Seed& seed : seeds()) {
    const std::string path = std::string(argv[1]) + "/" + seed.name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    const bool written = out != nullptr && std::fwrite(seed.bytes.data(), 1, seed.bytes.size(),
                                                       out) == seed.bytes.size();
    if (out == nullptr || std::fclose(out) != 0 || !written) {
      std::fprintf(stderr, "wav2ima_make_seeds: can not write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
