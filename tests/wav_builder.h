// Builds RIFF/WAVE inputs as bytes, for the tests and the fuzz seed corpus.
#ifndef WAV2IMA_TESTS_WAV_BUILDER_H
#define WAV2IMA_TESTS_WAV_BUILDER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<unsigned char>;

Bytes le32(std::uint32_t value);
Bytes operator+(Bytes a, const Bytes& b);
Bytes text(const std::string& s);

// An 8-byte header with `size` in it, then the body as given (no pad byte).
Bytes chunk(const std::string& id, std::uint32_t size, const Bytes& body);
Bytes chunk(const std::string& id, const Bytes& body);
// "RIFF", `riff_size`, "WAVE", then the chunks.
Bytes riff(std::uint32_t riff_size, const Bytes& chunks);
// The same with the RIFF size that matches the chunks.
Bytes riff(const Bytes& chunks);
// The 16-byte body of a 44100 Hz 16-bit stereo PCM format chunk.
Bytes fmt16();
// Interleaved 16-bit little-endian frames.
Bytes frames(const std::vector<std::pair<std::int16_t, std::int16_t>>& samples);
// `n` frames of (1000, -1000): from the zero state each of the first four encodes as 0x7F.
Bytes loud_frames(int n);
// `n` frames of full-range pseudo-random samples, the same for the same seed.
Bytes noise_frames(int n, std::uint32_t seed = 1);
// The 60-byte example file: fmt16 and four loud frames.
Bytes example60();

#endif  // WAV2IMA_TESTS_WAV_BUILDER_H
