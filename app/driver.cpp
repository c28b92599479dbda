#include "app/driver.h"

#include <cstdio>

#include <sys/stat.h>

#include "adpcm/encoder.h"
#include "wave/chunk_walk.h"
#include "wave/ima_to_wave.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
// Measured from 4 KiB to 1 MiB: the speed does not change (the encoder's
// serial chain sets it); 64 KiB needs a sixteenth of the system calls of the
// default and stays far inside the memory budget.
constexpr std::size_t kStreamBufferSize = 64 * 1024;

// printf of a null pointer is undefined; the messages show absent names so.
const char* printable(const char* name) {
  return name != nullptr ? name : "(null)";
}

int report_cannot_open(const char* name) {
  std::fprintf(stderr, "can not open %s\n", printable(name));
  return kExitFailure;
}

std::FILE* open_file(const char* name, const char* mode) {
  return name != nullptr ? std::fopen(name, mode) : nullptr;
}

// Opening the output truncates it, so an output that is the input itself
// (same name, a hard link, a symbolic link) must be caught before the open.
bool is_same_file(std::FILE* input, const char* output_name) {
  struct stat input_status;
  struct stat output_status;
  if (output_name == nullptr || fstat(fileno(input), &input_status) != 0) return false;
  if (stat(output_name, &output_status) != 0) return false;
  return input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino;
}

// One conversion, whichever direction: both commands share the order of
// work, the messages and the file checks.
int run_conversion(int argc, char** argv, int (*convert)(std::FILE* output, std::FILE* input)) {
  const char* input_name = argc > 1 ? argv[1] : nullptr;
  const char* output_name = argc > 2 ? argv[2] : nullptr;

  reset_encoder_state();
  std::FILE* input = open_file(input_name, "rb");
  if (input == nullptr) return report_cannot_open(input_name);
  if (is_same_file(input, output_name)) {
    (void)std::fclose(input);
    return report_cannot_open(output_name);
  }
  std::FILE* output = open_file(output_name, "wb");
  if (output == nullptr) {
    (void)std::fclose(input);
    return report_cannot_open(output_name);
  }

  (void)std::setvbuf(input, nullptr, _IOFBF, kStreamBufferSize);
  (void)std::setvbuf(output, nullptr, _IOFBF, kStreamBufferSize);
  std::printf("converting %s\n", input_name);
  const int result = convert(output, input);
  // Buffered bytes reach the disk only here: a full disk shows up at close.
  const int output_closed = std::fclose(output);
  (void)std::fclose(input);
  if (result != 0 || output_closed != 0) {
    std::fprintf(stderr, "convert error\n");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

int run(int argc, char** argv) {
  return run_conversion(argc, argv, convert_file);
}

int run_ima2wav(int argc, char** argv) {
  return run_conversion(argc, argv, convert_ima_file);
}
