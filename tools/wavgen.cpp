// wavgen: writes deterministic 16-bit stereo 44100 Hz test signals, so the
// project makes its own example and benchmark inputs. Integer arithmetic
// only: the same bytes on every machine.
//
//   wavgen sweep|noise|square|silence FRAMES OUT.wav
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "wave/canonical_header.h"

namespace {

constexpr std::uint32_t kSampleRate = 44100;

// Sine of a 32-bit phase (a full turn is 2^32) by a parabola, within 6 %.
std::int32_t parabolic_sine(std::uint32_t phase, std::int32_t amplitude) {
  const std::int64_t t = static_cast<std::int32_t>(phase) >> 16;  // -32768..32767 = -pi..pi
  const std::int64_t magnitude = t < 0 ? -t : t;
  return static_cast<std::int32_t>(t * (32768 - magnitude) * amplitude >> 28);
}

// Phase increment per sample for a frequency in Hz.
std::uint32_t phase_step(std::uint64_t hertz) {
  return static_cast<std::uint32_t>((hertz << 32) / kSampleRate);
}

struct Generator {
  const char* kind;
  std::uint64_t frames;
  std::uint64_t frame = 0;
  std::uint32_t phase[2] = {0, 0};
  std::uint32_t noise = 0x2545F491;
};

std::uint32_t next_noise(std::uint32_t& x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

std::int16_t clip16(std::int32_t value) {
  if (value > 32767) return 32767;
  if (value < -32768) return -32768;
  return static_cast<std::int16_t>(value);
}

// Left sweeps 50 Hz up to 12 kHz, right from 12 kHz down, over the whole file.
void sweep_frame(Generator& g, std::int16_t* out) {
  const std::uint64_t low = 50;
  const std::uint64_t high = 12000;
  const std::uint64_t rise = (high - low) * g.frame / (g.frames ? g.frames : 1);
  g.phase[0] += phase_step(low + rise);
  g.phase[1] += phase_step(high - rise);
  out[0] = clip16(parabolic_sine(g.phase[0], 24000));
  out[1] = clip16(parabolic_sine(g.phase[1], 24000));
}

void next_frame(Generator& g, std::int16_t* out) {
  if (std::strcmp(g.kind, "sweep") == 0) {
    sweep_frame(g, out);
  } else if (std::strcmp(g.kind, "noise") == 0) {
    out[0] = static_cast<std::int16_t>(next_noise(g.noise) >> 16);
    out[1] = static_cast<std::int16_t>(next_noise(g.noise) >> 16);
  } else if (std::strcmp(g.kind, "square") == 0) {
    // Full scale, 441 Hz on the left, 1 kHz-ish on the right.
    out[0] = (g.frame / 50) % 2 ? std::int16_t{-32768} : std::int16_t{32767};
    out[1] = (g.frame / 22) % 2 ? std::int16_t{32767} : std::int16_t{-32768};
  } else {
    out[0] = out[1] = 0;
  }
  ++g.frame;
}

bool known_kind(const char* kind) {
  for (const char* k : {"sweep", "noise", "square", "silence"}) {
    if (std::strcmp(kind, k) == 0) return true;
  }
  return false;
}

int write_samples(std::FILE* out, Generator& g) {
  constexpr std::uint64_t kBlockFrames = 4096;
  unsigned char block[kBlockFrames * 4];
  while (g.frame < g.frames) {
    const std::uint64_t n = g.frames - g.frame < kBlockFrames ? g.frames - g.frame : kBlockFrames;
    for (std::uint64_t i = 0; i < n; ++i) {
      std::int16_t frame[2];
      next_frame(g, frame);
      for (int c = 0; c < 2; ++c) {
        const auto bits = static_cast<std::uint16_t>(frame[c]);
        block[4 * i + 2 * static_cast<unsigned>(c)] = static_cast<unsigned char>(bits);
        block[4 * i + 2 * static_cast<unsigned>(c) + 1] = static_cast<unsigned char>(bits >> 8);
      }
    }
    if (std::fwrite(block, 4, n, out) != n) return -1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
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
