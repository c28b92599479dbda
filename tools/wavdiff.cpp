// wavdiff: how near a decoded WAV plays to the one it was made from, for the
// quality benchmark: SNR and segmental SNR (20 ms segments) over the
// shorter of the two, both 16-bit stereo PCM.
//
//   wavdiff REF.wav TEST.wav     prints "snr DB segmental DB"
#include <cstdio>
#include <cstring>
#include <vector>

#include "adpcm/fidelity.h"

using namespace wav2ima;

namespace {

// The samples of the first data chunk; empty when there is none.
std::vector<std::int16_t> samples_of(const char* name) {
  std::vector<std::int16_t> samples;
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return samples;
  unsigned char header[12];
  if (std::fread(header, 1, 12, file) == 12) {
    unsigned char chunk[8];
    while (std::fread(chunk, 1, 8, file) == 8) {
      std::uint32_t size = 0;
      for (int i = 3; i >= 0; --i)
        size = size << 8 | chunk[4 + i];
      if (std::memcmp(chunk, "data", 4) != 0) {
        if (std::fseek(file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) break;
        continue;
      }
      unsigned char bytes[2];
      for (std::uint32_t i = 0; i + 1 < size && std::fread(bytes, 1, 2, file) == 2; i += 2)
        samples.push_back(
            static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8)));
      break;
    }
  }
  (void)std::fclose(file);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: wavdiff REF.wav TEST.wav\n", stderr);
    return 2;
  }
  const std::vector<std::int16_t> reference = samples_of(argv[1]);
  const std::vector<std::int16_t> test = samples_of(argv[2]);
  const std::size_t frames = std::min(reference.size(), test.size()) / 2;
  if (frames == 0) {
    std::fprintf(stderr, "wavdiff: no samples to compare in %s and %s\n", argv[1], argv[2]);
    return 1;
  }
  Fidelity fidelity{};
  add_frames(fidelity, reference.data(), test.data(), frames);
  close_segments(fidelity);
  std::printf("snr %.3f segmental %.3f\n", snr_db(fidelity), segmental_snr_db(fidelity));
  return 0;
}
