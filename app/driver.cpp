#include "app/driver.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

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
char view_buffer[kStreamBufferSize];
char output_buffer[kStreamBufferSize];

// What the driver knows of the two files before the conversion starts: the
// length of a regular input, so that ima2wav can size its header and notice
// an input that changes under it, and whether the output only appends, so
// that ima2wav never tries to go back to its header there.
using Convert = int (*)(std::FILE* output, std::FILE* input, std::int64_t input_length,
                        bool output_appends);

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

// A message: its text before the file's name and after it; none after for
// a message that names no file.
struct Message {
  const char* before;
  const char* after;
};

constexpr Message kConverting{"converting ", "\n"};
constexpr Message kCannotOpen{"can not open ", "\n"};
constexpr Message kConvertError{"convert error\n", nullptr};

constexpr MessagePiece piece(const char* text) {
  return {text, std::char_traits<char>::length(text)};
}

// A terminal takes control characters as commands (a title, a colour):
// there each shows as '?', as ls shows them. Files and pipes get the name
// byte for byte.
bool shown_as_question_mark(char c, bool terminal) {
  const auto byte = static_cast<unsigned char>(c);
  return terminal && (byte < 0x20 || byte == 0x7F);
}

// One write per message, so that lines of parallel runs never mix, and one
// that cannot stop the program nor needs memory it may not get: the status
// stays the conversion's, and every failure is said. A name with more
// control characters than a write takes pieces goes out in several.
void say(std::FILE* stream, const Message& message, const char* name) {
  if (stream == nullptr) return;
  MessagePiece pieces[kMaxMessagePieces];
  std::size_t count = 0;
  pieces[count++] = piece(message.before);
  if (message.after != nullptr) {
    // printf of a null pointer is undefined; messages show absent names so.
    const char* text = name != nullptr ? name : "(null)";
    const bool terminal = identity_of(stream).terminal;
    const char* run = text;
    for (const char* at = text;; ++at) {
      const bool end = *at == '\0';
      if (!end && !shown_as_question_mark(*at, terminal)) continue;
      if (at > run) pieces[count++] = {run, static_cast<std::size_t>(at - run)};
      if (end) break;
      pieces[count++] = piece("?");
      run = at + 1;
      if (count + 3 > kMaxMessagePieces) {
        write_message(stream, pieces, count);
        count = 0;
      }
    }
    pieces[count++] = piece(message.after);
  }
  write_message(stream, pieces, count);
}

// Buffered bytes reach the file only here: a full disk shows up at the flush.
bool close_output(std::FILE* output) {
  const bool flushed = std::fflush(output) == 0;
  return std::fclose(output) == 0 && flushed;
}

// The end of every run: closes what is open, the output first, and says
// `failure` (naming `name`) if there is one; an output that cannot be closed
// whole fails a run that had not failed. Returns the exit status.
int finish(std::FILE* output, std::FILE* input, const MessageStreams& messages,
           const Message* failure, const char* name) {
  const bool output_closed = output == nullptr || close_output(output);
  if (input != nullptr) (void)std::fclose(input);
  if (failure == nullptr && !output_closed) failure = &kConvertError;
  if (failure == nullptr) return kExitSuccess;
  say(messages.failure, *failure, name);
  return kExitFailure;
}

// Why a file did not open: "can not open" for the name, unless what failed
// is the program's own memory for the stream.
const Message* not_opened() {
  return errno == ENOMEM ? &kConvertError : &kCannotOpen;
}

// One conversion, whichever direction: both commands share the order of
// work, the messages and the file checks.
int run_conversion(int argc, char** argv, Convert convert) {
  // The names first, before the program opens anything of its own: a
  // descriptor's name means only a descriptor the program was given.
  const FileName input_name = take_name(argc > 1 ? argv[1] : nullptr);
  const FileName output_name = take_name(argc > 2 ? argv[2] : nullptr);
  // A file of the run's own must never take the number of a closed standard
  // stream and receive its messages.
  prepare_process();
  reset_encoder_state();
  // An output named by its descriptor is a known file before the input is
  // opened: not even the input's failure may be said into it.
  const FileIdentity named_output = identity_of(output_name);
  std::FILE* input = open_input(input_name);
  if (input == nullptr) {
    return finish(nullptr, nullptr, message_streams(FileIdentity{}, named_output), not_opened(),
                  input_name.name);
  }
  // A stream's buffer is set before any other use of the stream. Without one
  // passed in, glibc keeps its default size, whatever size is asked for.
  (void)std::setvbuf(input, input_buffer, _IOFBF, kStreamBufferSize);
  const FileIdentity input_file = identity_of(input);
  // Opened without truncation and compared by the open descriptors, so an
  // output that is the input itself (same name, a hard or symbolic link, even
  // one made while this runs) is never emptied. Only a stored file can be
  // destroyed so: one socket or terminal both ways is used as `cat` uses it.
  std::FILE* output = open_output(output_name);
  const Message* output_failure = output == nullptr ? not_opened() : &kCannotOpen;
  if (output != nullptr) (void)std::setvbuf(output, output_buffer, _IOFBF, kStreamBufferSize);
  const FileIdentity output_file = output != nullptr ? identity_of(output) : named_output;
  const MessageStreams messages = message_streams(input_file, output_file);
  if (output == nullptr || (input_file.stored && same_file(input_file, output_file))) {
    return finish(output, input, messages, output_failure, output_name.name);
  }
  const std::int64_t input_length = regular_file_length(input);
  // The memory a pipe needs is taken before an existing output is emptied:
  // a run that cannot get it leaves the output as it was.
  std::FILE* readable = seekable_input(input, view_buffer, kStreamBufferSize);
  if (readable == nullptr) return finish(output, input, messages, &kConvertError, nullptr);
  if (truncate_output(output_name, output) != 0) {
    return finish(output, readable, messages, &kCannotOpen, output_name.name);
  }

  // Out before the input is read, so that a log shows the file being
  // converted while it runs.
  say(messages.announcement, kConverting, input_name.name);
  const int result = convert(output, readable, input_length, appends(output));
  return finish(output, readable, messages, result != 0 ? &kConvertError : nullptr, nullptr);
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
