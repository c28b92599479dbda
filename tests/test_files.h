// Helpers that build RIFF/WAVE inputs as bytes and run the programs.
#ifndef WAV2IMA_TESTS_TEST_FILES_H
#define WAV2IMA_TESTS_TEST_FILES_H

#include <cstdint>
#include <cstdio>
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
// The 60-byte example file: fmt16 and four loud frames.
Bytes example60();

// A temporary file holding `bytes`, positioned at offset 0.
std::FILE* stream_of(const Bytes& bytes);
// Everything in the stream, from offset 0; the stream's position is lost.
Bytes contents(std::FILE* stream);

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);

// A fresh directory under the system's temporary directory, removed with it.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in directory `cwd`, capturing both output streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd);

#endif  // WAV2IMA_TESTS_TEST_FILES_H
