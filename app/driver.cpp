#include "app/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "adpcm/encoder.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/pipe_view.h"
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

// What the driver knows of the two files before the conversion starts: the
// length of a regular input, so that ima2wav can size its header and notice
// an input that changes under it, and whether the output only appends, so
// that ima2wav never tries to go back to its header there.
using Convert = int (*)(std::FILE* output, std::FILE* input, std::int64_t input_length,
                        bool output_appends);

// printf of a null pointer is undefined; the messages show absent names so.
const char* printable(const char* name) {
  return name != nullptr ? name : "(null)";
}

// Where the messages go: never into a file the run reads or writes (`2>&1`,
// `/dev/stdout > f`, `>> in.wav`), which holds nothing but its own bytes. The
// announcement moves to standard error when standard output is such a file; a
// null stream says nothing. A terminal shows messages and keeps none.
struct MessageStreams {
  std::FILE* announcement;
  std::FILE* failure;
};

bool kept_apart(std::FILE* stream, const FileIdentity& input, const FileIdentity& output) {
  const FileIdentity file = identity_of(stream);
  return file.terminal || (!same_file(file, input) && !same_file(file, output));
}

MessageStreams message_streams(const FileIdentity& input, const FileIdentity& output) {
  std::FILE* failure = kept_apart(stderr, input, output) ? stderr : nullptr;
  return {kept_apart(stdout, input, output) ? stdout : failure, failure};
}

// One write per message, so that lines of parallel runs never mix, and one
// that cannot stop the program: the status stays the conversion's.
void say(std::FILE* stream, const char* format, const char* name) {
  if (stream == nullptr) return;
  const int length = std::snprintf(nullptr, 0, format, printable(name));
  if (length < 0) return;
  const auto size = static_cast<std::size_t>(length) + 1;
  // The heap, not the stack: a name may be as long as the system allows.
  auto* text = static_cast<char*>(std::malloc(size));
  if (text == nullptr) return;
  (void)std::snprintf(text, size, format, printable(name));
  write_message(stream, text, size - 1);
  std::free(text);
}

constexpr const char* kCannotOpen = "can not open %s\n";
constexpr const char* kConvertError = "convert error\n";

// Buffered bytes reach the file only here: a full disk shows up at the flush.
bool close_output(std::FILE* output) {
  const bool flushed = std::fflush(output) == 0;
  return std::fclose(output) == 0 && flushed;
}

// The end of every run: closes what is open, the output first, and says
// `failure` (a message format with `name` as its argument) if there is one;
// an output that cannot be closed whole fails a run that had not failed.
// Returns the exit status.
int finish(std::FILE* output, std::FILE* input, const MessageStreams& messages, const char* failure,
           const char* name) {
  const bool output_closed = output == nullptr || close_output(output);
  if (input != nullptr) (void)std::fclose(input);
  if (failure == nullptr && !output_closed) failure = kConvertError;
  if (failure == nullptr) return kExitSuccess;
  say(messages.failure, failure, name);
  return kExitFailure;
}

// One conversion, whichever direction: both commands share the order of
// work, the messages and the file checks.
int run_conversion(int argc, char** argv, Convert convert) {
  const char* input_name = argc > 1 ? argv[1] : nullptr;
  const char* output_name = argc > 2 ? argv[2] : nullptr;

  // Before anything is opened: a file of the run's own must never take the
  // number of a closed standard stream and receive its messages.
  prepare_process();
  reset_encoder_state();
  // An output named by its descriptor is a known file before the input is
  // opened: not even the input's failure may be said into it.
  const FileIdentity named_output = identity_of_descriptor(descriptor_named(output_name));
  std::FILE* input = open_input(input_name);
  if (input == nullptr) {
    return finish(nullptr, nullptr, message_streams(FileIdentity{}, named_output), kCannotOpen,
                  input_name);
  }
  const FileIdentity input_file = identity_of(input);
  // Opened without truncation and compared by the open descriptors, so an
  // output that is the input itself (same name, a hard or symbolic link, even
  // one made while this runs) is never emptied. Only a stored file can be
  // destroyed so: one socket or terminal both ways is used as `cat` uses it.
  std::FILE* output = open_output(output_name);
  const FileIdentity output_file = output != nullptr ? identity_of(output) : named_output;
  const MessageStreams messages = message_streams(input_file, output_file);
  if (output == nullptr || (input_file.stored && same_file(input_file, output_file)) ||
      truncate_output(output_name, output) != 0) {
    return finish(output, input, messages, kCannotOpen, output_name);
  }
  const std::int64_t input_length = regular_file_length(input);
  std::FILE* readable = seekable_input(input, input_buffer, kStreamBufferSize);
  if (readable == nullptr) return finish(output, input, messages, kCannotOpen, input_name);
  (void)std::setvbuf(output, output_buffer, _IOFBF, kStreamBufferSize);

  // Out before the input is read, so that a log shows the file being
  // converted while it runs.
  say(messages.announcement, "converting %s\n", input_name);
  const int result = convert(output, readable, input_length, appends(output));
  return finish(output, readable, messages, result != 0 ? kConvertError : nullptr, nullptr);
}

int convert_wave(std::FILE* output, std::FILE* input, std::int64_t /*input_length*/,
                 bool /*output_appends*/) {
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
