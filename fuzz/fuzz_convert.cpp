// Fuzz target: the whole chunk walk and encoder over arbitrary bytes, the
// summary of what the file says of itself, and the search encoder over the
// bytes as frames.
//
// Invariants checked for every input:
//   - convert_file returns 0 or -1, and so does summarise_wave;
//   - it writes at most one byte per 4 input bytes after the 12-byte preamble;
//   - the search writes one byte a frame, the same bytes fed whole or in
//     pieces;
//   - it returns at all (libFuzzer's -timeout turns a hang into a failure).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstring>
#include <vector>

#include "adpcm/encoder.h"
#include "adpcm/ima_encoder.h"
#include "platform/stream_io.h"
#include "wave/chunk_walk.h"
#include "wave/wave_summary.h"

using namespace wav2ima;

namespace {

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// One real output file for the whole run, emptied before every input.
std::FILE* shared_output() {
  static std::FILE* output = std::tmpfile();
  check(output != nullptr, "tmpfile for the output");
  check(seek_stream(output, 0, SEEK_SET) == 0, "rewind of the output");
#if defined(_WIN32)
  check(_chsize_s(_fileno(output), 0) == 0, "truncation of the output");
#else
  check(ftruncate(fileno(output), 0) == 0, "truncation of the output");
#endif
  return output;
}

// The input as a stream: in memory where the C library offers it (glibc, as
// the fuzzer runs), else a temporary file holding the bytes (the replay on
// Windows).
std::FILE* input_stream(const std::uint8_t* data, std::size_t size) {
#if defined(_WIN32)
  std::FILE* input = std::tmpfile();
  check(input != nullptr && std::fwrite(data, 1, size, input) == size, "tmpfile of the input");
  std::rewind(input);
  return input;
#else
  return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
#endif
}

// The stream of the frames at `level`, fed in pieces of `piece` frames.
std::vector<std::uint8_t> search(int level, const std::vector<std::int16_t>& frames,
                                 std::size_t piece) {
  ImaEncoder* encoder = ima_encoder_new(level);
  check(encoder != nullptr, "an encoder");
  const std::size_t count = frames.size() / 2;
  std::vector<std::uint8_t> out(count + IMA_ENCODER_MAX_DELAY);
  std::size_t written = 0;
  for (std::size_t done = 0; done < count; done += piece) {
    const std::size_t n = piece < count - done ? piece : count - done;
    written += ima_encoder_feed(encoder, frames.data() + 2 * done, n, out.data() + written);
  }
  written += ima_encoder_finish(encoder, out.data() + written);
  ima_encoder_free(encoder);
  check(written == count, "the search writes one byte a frame");
  out.resize(written);
  return out;
}

// The first byte picks the level and the piece size, the rest are frames;
// a few hundred at most, so the widest search keeps the fuzzer quick.
void fuzz_search(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kMostFrames = 256;
  const int level = data[0] % (IMA_ENCODER_LEVEL_MAX + 1);
  const std::size_t piece = 1 + std::size_t{data[0]} / (IMA_ENCODER_LEVEL_MAX + 1);
  const std::size_t count = (size - 1) / 4 < kMostFrames ? (size - 1) / 4 : kMostFrames;
  std::vector<std::int16_t> frames(2 * count);
  if (count > 0) std::memcpy(frames.data(), data + 1, 4 * count);
  check(search(level, frames, count + 1) == search(level, frames, piece),
        "the same bytes however the frames are split");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A zero-length memory stream cannot be opened; no walk reads anything there.
  if (size == 0) return 0;
  reset_encoder_state();
  std::FILE* input = input_stream(data, size);
  check(input != nullptr, "a stream of the input");
  std::FILE* output = shared_output();

  const int result = convert_file(output, input);
  check(result == 0 || result == -1, "result is 0 or -1");
  check(std::fflush(output) == 0, "flush of the output");
  const std::int64_t written = tell_stream(output);
  const std::int64_t frames_possible =
      size > kPreambleSize ? static_cast<std::int64_t>(size - kPreambleSize) / 4 : 0;
  check(written >= 0 && written <= frames_possible, "output bytes <= (input size - 12) / 4");

  WaveSummary summary{};
  const int summarised = summarise_wave(input, summary);
  check(summarised == 0 || summarised == -1, "summary result is 0 or -1");

  (void)std::fclose(input);
  fuzz_search(data, size);
  return 0;
}
