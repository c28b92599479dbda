// Fuzz target: the whole chunk walk and encoder over arbitrary bytes.
//
// Invariants checked for every input:
//   - convert_file returns 0 or -1;
//   - it writes at most one byte per 4 input bytes after the 12-byte preamble;
//   - it returns at all (libFuzzer's -timeout turns a hang into a failure).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/types.h>
#include <unistd.h>

#include "adpcm/encoder.h"
#include "wave/chunk_walk.h"

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
  check(fseeko(output, 0, SEEK_SET) == 0, "rewind of the output");
  check(ftruncate(fileno(output), 0) == 0, "truncation of the output");
  return output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A zero-length memory stream cannot be opened; no walk reads anything there.
  if (size == 0) return 0;
  reset_encoder_state();
  std::FILE* input = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  check(input != nullptr, "fmemopen of the input");
  std::FILE* output = shared_output();

  const int result = convert_file(output, input);
  check(result == 0 || result == -1, "result is 0 or -1");
  check(std::fflush(output) == 0, "flush of the output");
  const off_t written = ftello(output);
  const off_t frames_possible =
      size > kPreambleSize ? static_cast<off_t>(size - kPreambleSize) / 4 : 0;
  check(written >= 0 && written <= frames_possible, "output bytes <= (input size - 12) / 4");

  (void)std::fclose(input);
  return 0;
}
