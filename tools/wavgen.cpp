// wavgen: writes deterministic 16-bit stereo 44100 Hz test signals, so the
// project makes its own example and benchmark inputs. Integer arithmetic
// only: the same bytes on every machine.
//
//   wavgen sweep|noise|square|silence FRAMES OUT.wav
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "tools/signals.h"
#include "wave/canonical_header.h"

using namespace wav2ima;

namespace {

int write_samples(std::FILE* out, Generator& g) {
  constexpr std::size_t kBlockFrames = 4096;
  unsigned char block[kBlockFrames * 4];
  while (g.frame < g.frames) {
    // At most a block: fits a 32-bit size_t too.
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(g.frames - g.frame, kBlockFrames));
    next_frame_bytes(g, block, n);
    if (std::fwrite(block, 4, n, out) != n) return -1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  prepare_process();
  if (argc != 4 || !known_kind(argv[1])) {
    std::fprintf(stderr, "usage: wavgen sweep|noise|square|silence FRAMES OUT.wav\n");
    return 2;
  }
  char* end = nullptr;
  const unsigned long long frames = std::strtoull(argv[2], &end, 10);
  if (*argv[2] == '\0' || *end != '\0' || frames > (1ULL << 40)) {
    std::fprintf(stderr, "wavgen: bad frame count %s\n", argv[2]);
    return 2;
  }
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "wavgen: can not open %s\n", argv[3]);
    return 1;
  }
  Generator g{argv[1], frames};
  const bool written = write_canonical_header(out, frames * 4) == 0 && write_samples(out, g) == 0;
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "wavgen: write error\n");
    return 1;
  }
  return 0;
}
