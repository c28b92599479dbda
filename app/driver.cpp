#include "app/driver.h"

#include "app/conversion.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// What went wrong, for the program to put in its words.
struct Failure {
  enum Kind { kOpen, kConversion, kMemory, kOutputClose };
  Kind kind;
  const char* name;             // the file concerned
  int error;                    // the system's errno where it said one
  const char* words = nullptr;  // else the words for it
};

// An existing output, emptied: before the conversion, or once the input is
// accepted. `error` is the system's reason when it could not be.
struct Emptying {
  const FileName* name;
  std::FILE* output;
  int error;
};

int empty_output(void* context) {
  auto& emptying = *static_cast<Emptying*>(context);
  if (truncate_output(*emptying.name, emptying.output) == 0) return 0;
  emptying.error = errno != 0 ? errno : EIO;
  return -1;
}

// "PREFIX: NAME: WORDS", one line.
void say_words(std::FILE* stream, const Program& program, const char* name, const char* words) {
  // Static: saying a failure needs no memory the program may not get.
  static char before[64];
  static char after[256];
  (void)std::snprintf(before, sizeof before, "%s: ", program.prefix);
  (void)std::snprintf(after, sizeof after, ": %s\n", words);
  say(stream, Message{before, after}, name);
}

void say_failure(std::FILE* stream, const Program& program, const Failure& failure) {
  if (program.prefix == nullptr) {
    // "can not open" for the name, unless what failed is the program's own
    // memory for the stream.
    const bool cannot_open = failure.kind == Failure::kOpen && failure.error != ENOMEM;
    say(stream, cannot_open ? kCannotOpen : kConvertError, failure.name);
    return;
  }
  const char* name = failure.name;
  const char* reason = nullptr;
  if (failure.kind == Failure::kConversion) {
    program.explain(program.context, name, reason);
  } else if (failure.words != nullptr) {
    reason = failure.words;
  } else {
    reason = std::strerror(failure.error);
  }
  say_words(stream, program, name, reason);
}

// The end of every run: closes what is open, the output first, and says
// `failure` if there is one; an output that cannot be closed whole fails a
// run that had not failed. Returns the exit status.
int finish(std::FILE* output, std::FILE* input, const MessageStreams& messages,
           const Program& program, const Failure* failure, const char* output_name) {
  const bool output_closed = output == nullptr || close_output(output);
  const int close_error = errno;
  if (input != nullptr) (void)std::fclose(input);
  const Failure close_failure{Failure::kOutputClose, output_name, close_error};
  if (failure == nullptr && !output_closed) failure = &close_failure;
  if (failure == nullptr) {
    const char* name = nullptr;
    const char* words = nullptr;
    if (program.report != nullptr) program.report(program.context, name, words);
    if (words != nullptr) say_words(messages.failure, program, name, words);
    return kExitSuccess;
  }
  say_failure(messages.failure, program, *failure);
  return kExitFailure;
}

}  // namespace

int run_conversion(int argc, char** argv, const Program& program) {
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
    const Failure failure{Failure::kOpen, input_name.name, errno};
    return finish(nullptr, nullptr, message_streams(FileIdentity{}, named_output), program,
                  &failure, nullptr);
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
  const Failure output_failure{Failure::kOpen, output_name.name, output == nullptr ? errno : 0,
                               output == nullptr ? nullptr : "the same file as the input"};
  if (output != nullptr) (void)std::setvbuf(output, output_buffer, _IOFBF, kStreamBufferSize);
  const FileIdentity output_file = output != nullptr ? identity_of(output) : named_output;
  const MessageStreams messages = message_streams(input_file, output_file);
  if (output == nullptr || (input_file.stored && same_file(input_file, output_file))) {
    return finish(output, input, messages, program, &output_failure, output_name.name);
  }
  const std::int64_t input_length = regular_file_length(input);
  // The memory a pipe needs is taken before an existing output is emptied:
  // a run that cannot get it leaves the output as it was.
  std::FILE* readable = seekable_input(input, view_buffer, kStreamBufferSize);
  if (readable == nullptr) {
    const Failure failure{Failure::kMemory, input_name.name, ENOMEM};
    return finish(output, input, messages, program, &failure, output_name.name);
  }
  Emptying emptying{&output_name, output, 0};
  if (!program.empties_output && empty_output(&emptying) != 0) {
    const Failure failure{Failure::kOpen, output_name.name, emptying.error};
    return finish(output, readable, messages, program, &failure, output_name.name);
  }

  // Out before the input is read, so that a log shows the file being
  // converted while it runs.
  if (program.prefix == nullptr) say(messages.announcement, kConverting, input_name.name);
  const int result = program.convert(program.context, output, readable, input_length,
                                     appends(output), OutputStart{&emptying, empty_output});
  const Failure emptying_failure{Failure::kOpen, output_name.name, emptying.error};
  const Failure failure{Failure::kConversion, nullptr, 0};
  const Failure* failed = emptying.error != 0 ? &emptying_failure : &failure;
  return finish(output, readable, messages, program, result != 0 ? failed : nullptr,
                output_name.name);
}

namespace {

int convert_wave(void* /*context*/, std::FILE* output, std::FILE* input,
                 std::int64_t /*input_length*/, bool /*output_appends*/, const OutputStart& start) {
  return convert_file(output, input, kRuleCoder, start);
}

int convert_stream(void* /*context*/, std::FILE* output, std::FILE* input,
                   std::int64_t input_length, bool output_appends, const OutputStart& /*start*/) {
  return convert_ima_file(output, input, input_length, output_appends);
}

}  // namespace

int run(int argc, char** argv) {
  // A refused input leaves an existing output as it was: the walk empties
  // it once the input's header is accepted.
  return run_conversion(argc, argv,
                        Program{convert_wave, nullptr, true, nullptr, nullptr, nullptr});
}

int run_ima2wav(int argc, char** argv) {
  // A stream has no header to accept first: the output is emptied before.
  return run_conversion(argc, argv,
                        Program{convert_stream, nullptr, false, nullptr, nullptr, nullptr});
}

}  // namespace wav2ima
