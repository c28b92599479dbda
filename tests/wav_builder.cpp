#include "tests/wav_builder.h"

Bytes le32(std::uint32_t value) {
  return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes chunk(const std::string& id, std::uint32_t size, const Bytes& body) {
  return text(id) + le32(size) + body;
}

Bytes chunk(const std::string& id, const Bytes& body) {
  return chunk(id, static_cast<std::uint32_t>(body.size()), body);
}

Bytes riff(std::uint32_t riff_size, const Bytes& chunks) {
  return text("RIFF") + le32(riff_size) + text("WAVE") + chunks;
}

Bytes riff(const Bytes& chunks) {
  return riff(static_cast<std::uint32_t>(4 + chunks.size()), chunks);
}

Bytes fmt16() {
  return {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
}

Bytes frames(const std::vector<std::pair<std::int16_t, std::int16_t>>& samples) {
  Bytes out;
  for (const auto& [left, right] : samples) {
    for (const std::int16_t s : {left, right}) {
      const auto bits = static_cast<std::uint16_t>(s);
      out.push_back(static_cast<unsigned char>(bits));
      out.push_back(static_cast<unsigned char>(bits >> 8));
    }
  }
  return out;
}

Bytes loud_frames(int n) {
  return frames(std::vector<std::pair<std::int16_t, std::int16_t>>(static_cast<std::size_t>(n),
                                                                   {1000, -1000}));
}

Bytes noise_frames(int n, std::uint32_t seed) {
  Bytes out(4 * static_cast<std::size_t>(n));
  std::uint32_t x = seed;
  for (unsigned char& byte : out) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<unsigned char>(x >> 24);
  }
  return out;
}

Bytes example60() {
  return riff(chunk("fmt ", fmt16()) + chunk("data", loud_frames(4)));
}
