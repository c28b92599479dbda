#include "app/driver.h"

#include <cstdint>
#include <cstdio>

#include "adpcm/encoder.h"
#include "app/pipe_input.h"
#include "app/platform.h"
#include "wave/chunk_walk.h"
#include "wave/ima_to_wave.h"

namespace wav2ima {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
// 64 KiB: a sixteenth of the reads and writes of the library's 4 KiB default,
// far inside the memory budget. The buffers are passed in: asked for by size
// alone, glibc keeps its default.
constexpr std::size_t kStreamBufferSize = std::size_t{64} * 1024;
char input_buffer[kStreamBufferSize];
char output_buffer[kStreamBufferSize];

// The length of a regular input, taken before the conversion starts, so that
// ima2wav can size its header and notice an input that changes under it.
using Convert = int (*)(std::FILE* output, std::FILE* input, std::int64_t input_length);

// printf of a null pointer is undefined; the messages show absent names so.
const char* printable(const char* name) {
  return name != nullptr ? name : "(null)";
}

int report_cannot_open(const char* name) {
  std::fprintf(stderr, "can not open %s\n", printable(name));
  return kExitFailure;
}

// Printed on standard output and flushed at once, so that a log shows the
// file being converted while it runs; on standard error when the output is
// standard output's own file, which then holds nothing but the stream.
void announce(const char* input_name, std::FILE* output) {
  std::FILE* stream = is_standard_output(output) ? stderr : stdout;
  std::fprintf(stream, "converting %s\n", input_name);
  (void)std::fflush(stream);
}

// Buffered bytes reach the file only here: a full disk shows up at the flush.
bool close_output(std::FILE* output) {
  const bool flushed = std::fflush(output) == 0;
  return std::fclose(output) == 0 && flushed;
}

// One conversion, whichever direction: both commands share the order of
// work, the messages and the file checks.
int run_conversion(int argc, char** argv, Convert convert) {
  const char* input_name = argc > 1 ? argv[1] : nullptr;
  const char* output_name = argc > 2 ? argv[2] : nullptr;

  reset_encoder_state();
  std::FILE* input = open_input(input_name);
  if (input == nullptr) return report_cannot_open(input_name);
  // Opened without truncation and compared by the open descriptors, so an
  // output that is the input itself (same name, a hard or symbolic link, even
  // one made while this runs) is never emptied.
  std::FILE* output = open_output(output_name);
  if (output == nullptr || same_file(input, output) || truncate_output(output) != 0) {
    if (output != nullptr) (void)std::fclose(output);
    (void)std::fclose(input);
    return report_cannot_open(output_name);
  }
  const std::int64_t input_length = regular_file_length(input);
  std::FILE* readable = seekable_input(input, input_buffer, kStreamBufferSize);
  if (readable == nullptr) {
    (void)std::fclose(output);
    (void)std::fclose(input);
    return report_cannot_open(input_name);
  }
  (void)std::setvbuf(output, output_buffer, _IOFBF, kStreamBufferSize);

  announce(input_name, output);
  const int result = convert(output, readable, input_length);
  const bool output_closed = close_output(output);
  (void)std::fclose(readable);
  if (result != 0 || !output_closed) {
    std::fprintf(stderr, "convert error\n");
    return kExitFailure;
  }
  return kExitSuccess;
}

int convert_wave(std::FILE* output, std::FILE* input, std::int64_t /*input_length*/) {
  return convert_file(output, input);
}

}  // namespace

int run(int argc, char** argv) {
  return run_conversion(argc, argv, convert_wave);
}

int run_ima2wav(int argc, char** argv) {
  return run_conversion(argc, argv, convert_ima_file);
}

}  // namespace wav2ima
