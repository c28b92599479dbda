#include "tools/signals.h"

#include <cstring>
#include <initializer_list>

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

}  // namespace

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

void next_frame_bytes(Generator& g, unsigned char* bytes, std::uint64_t frames) {
  for (std::uint64_t i = 0; i < frames; ++i, bytes += 4) {
    std::int16_t frame[2];
    next_frame(g, frame);
    const auto left = static_cast<std::uint16_t>(frame[0]);
    const auto right = static_cast<std::uint16_t>(frame[1]);
    bytes[0] = static_cast<unsigned char>(left);
    bytes[1] = static_cast<unsigned char>(left >> 8);
    bytes[2] = static_cast<unsigned char>(right);
    bytes[3] = static_cast<unsigned char>(right >> 8);
  }
}
