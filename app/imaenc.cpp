// imaenc: wav2ima's reading and writing, with codes chosen by search. One
// more driver over the same walk and the same file handling; its words are
// its own: nothing on success, each failure one line "imaenc: NAME: REASON".
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "adpcm/encoder.h"
#include "adpcm/fidelity.h"
#include "adpcm/ima_encoder.h"
#include "app/conversion.h"
#include "app/driver.h"
#include "app/marks.h"
#include "platform/files.h"
#include "platform/stream_io.h"
#include "player/ima_player.h"
#include "wave/chunk_walk.h"
#include "wave/wave_summary.h"

namespace wav2ima {

namespace {

constexpr int kDefaultLevel = 4;
constexpr int kExitUsage = 2;
constexpr char kUsage[] =
    "usage: imaenc [-0 ... -9] [--report] [--c-array NAME] [--marks N] [--loop START:END]\n"
    "              [--marks-file FILE] IN.wav OUT\n";

struct Options {
  int level = kDefaultLevel;
  bool report = false;
  // Set: OUT is the stream as C source, an array of this name.
  const char* c_array = nullptr;
  // Marks: every N frames (0: none), the loop given (overriding the input's
  // sampler chunk), where their lines go.
  std::uint32_t marks_every = 0;
  Loop loop{false, 0, 0};
  const char* marks_file = nullptr;
  const char* input = nullptr;
  const char* output = nullptr;
};

// Frames a block holds, as the walk hands them over; the search's held
// frames wait before them.
constexpr std::size_t kFramesAtMost = kFramesPerBlock + kMaxHeldFrames;

// What the player hears and how far it lies from the input, for --report.
struct Listener {
  ImaPlayer player;
  Fidelity fidelity;
  // The input's frames whose bytes the search has not written yet.
  std::int16_t waiting[2 * kFramesAtMost];
  std::size_t waiting_frames;
};

struct Encoding {
  const Options* options;
  ImaEncoder* encoder;
  std::int16_t frames[2 * kFramesAtMost];
  Listener* listener;
  // Why the conversion failed.
  WalkFailure walk_failure;
  enum Failed {
    kNothing,
    kFormat,
    kRead,
    kWrite,
    kCutShort,
    kMarksWrite,
    kLoopAfterAudio,
    kLoopPastEnd
  } failed;
  // Marks, when asked for or the input has a loop: their lines wait in a
  // scratch file until the stream is done.
  bool marking;
  Marker marker;
  bool marks_failed;
  // Frames encoded so far: a loop found after them comes too late.
  std::uint64_t frames_fed;
  // The input was accepted and the output started: only then is there a
  // stream to write as C source or to mark.
  bool started;
  int error;
  WaveSummary format;
  Refusals refusals;
  char report[160];
};

std::int16_t sample_at(const unsigned char* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8));
}

// Decodes the stream's new bytes as a player does and compares them with
// the frames they stand for, the oldest waiting first.
void listen(Listener& listener, const std::int16_t* frames, std::size_t frame_count,
            const unsigned char* stream, std::size_t stream_bytes) {
  // None at the end, when the search hands over what it held.
  if (frame_count > 0) {
    std::memcpy(listener.waiting + 2 * listener.waiting_frames, frames,
                frame_count * 2 * sizeof(std::int16_t));
  }
  listener.waiting_frames += frame_count;
  std::int16_t decoded[2 * kFramesAtMost];
  for (std::size_t i = 0; i < stream_bytes; ++i) {
    for (int channel = 0; channel < 2; ++channel) {
      const unsigned code = channel == 0 ? stream[i] >> 4 : stream[i] & 15U;
      const std::int16_t before = listener.player.predictor[channel];
      const std::uint16_t move =
          ima_player_move(ima_player_steps[listener.player.step_index[channel]], code);
      const std::int32_t unclamped = (code & 8U) != 0 ? before - move : before + move;
      if (unclamped != static_cast<std::int16_t>(unclamped)) ++listener.fidelity.clamped;
    }
    ima_player_decode(&listener.player, stream + i, 1, decoded + 2 * i);
  }
  add_frames(listener.fidelity, listener.waiting, decoded, stream_bytes);
  listener.waiting_frames -= stream_bytes;
  std::memmove(listener.waiting, listener.waiting + 2 * stream_bytes,
               listener.waiting_frames * 2 * sizeof(std::int16_t));
}

std::size_t encode_frames(void* context, const unsigned char* frames, std::size_t count,
                          unsigned char* codes) {
  auto& encoding = *static_cast<Encoding*>(context);
  for (std::size_t i = 0; i < 2 * count; ++i)
    encoding.frames[i] = sample_at(frames + 2 * i);
  const std::size_t written = ima_encoder_feed(encoding.encoder, encoding.frames, count, codes);
  encoding.frames_fed += count;
  if (encoding.marking && follow_stream(encoding.marker, codes, written) != 0)
    encoding.marks_failed = true;
  if (encoding.listener != nullptr)
    listen(*encoding.listener, encoding.frames, count, codes, written);
  return written;
}

// The converter's chunk handling, noting what failed and why.
struct Walk {
  Conversion conversion;
  Encoding* encoding;
};

ChunkEnd take_format(void* context, std::FILE* input, std::uint32_t size) {
  auto& [conversion, encoding] = *static_cast<Walk*>(context);
  const std::int64_t entry = tell_stream(input);
  read_format_fields(input, size, encoding->format);
  if (entry < 0 || seek_stream(input, entry, SEEK_SET) != 0) return kChunkFailed;
  const ChunkEnd end = test_format(&conversion, input, size);
  if (end == kChunkFailed) {
    encoding->failed = Encoding::kFormat;
    format_refusals(encoding->format, "imaenc", encoding->refusals);
  }
  return end;
}

ChunkEnd take_data(void* context, std::FILE* input, DataBody body) {
  auto& [conversion, encoding] = *static_cast<Walk*>(context);
  errno = 0;
  const ChunkEnd end = encode_data(&conversion, input, body);
  if (end != kChunkFailed) return end;
  encoding->error = errno;
  if (std::ferror(conversion.output) != 0) {
    encoding->failed = Encoding::kWrite;
  } else if (std::ferror(input) != 0) {
    encoding->failed = Encoding::kRead;
  } else {
    encoding->failed = Encoding::kCutShort;
  }
  return end;
}

// A loop as imaenc counts it: END is the frame after the chunk's last.
Loop loop_of(const SamplerLoop& found) {
  return Loop{found.found, found.start, std::uint64_t{found.end} + 1};
}

// A sampler chunk met in the conversion: its loop, unless --loop gave one
// or the file was read for it before. After audio it comes too late.
ChunkEnd take_sampler(void* context, std::FILE* input, std::uint32_t size) {
  auto& encoding = *static_cast<Walk*>(context)->encoding;
  SamplerLoop found{};
  if (read_sampler_loop(input, size, found) != 0) return kChunkFailed;
  if (!encoding.marking || !found.found || encoding.marker.loop.found) return kNextChunk;
  if (encoding.frames_fed > 0) {
    encoding.failed = Encoding::kLoopAfterAudio;
    return kChunkFailed;
  }
  set_loop(encoding.marker, loop_of(found));
  return kNextChunk;
}

// The chunks a scan for the loop steps over.
ChunkEnd step_over_format(void* /*context*/, std::FILE* input, std::uint32_t size) {
  return seek_stream(input, size, SEEK_CUR) == 0 ? kNextChunk : kChunkFailed;
}

ChunkEnd step_over_data(void* /*context*/, std::FILE* input, DataBody body) {
  if (body.extent == DataBody::kToTheEnd) return kInputEnded;
  return seek_stream(input, body.size, SEEK_CUR) == 0 ? kNextChunk : kChunkFailed;
}

ChunkEnd note_sampler(void* context, std::FILE* input, std::uint32_t size) {
  SamplerLoop found{};
  if (read_sampler_loop(input, size, found) != 0) return kChunkFailed;
  auto& loop = *static_cast<Loop*>(context);
  if (!loop.found) loop = loop_of(found);
  return kNextChunk;
}

// The name without the folders before it.
const char* base_name(const char* path) {
  const char* base = path;
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == '/' || *at == '\\') base = at + 1;
  }
  return base;
}

// The stream in `codes` (read from its start) as a header a firmware build
// includes unedited: in flash on AVR, whose arrays hold at most 32767 bytes.
int write_c_array(const Options& options, std::FILE* codes, std::FILE* output) {
  const std::int64_t frames = tell_stream(codes);
  if (frames < 0 || seek_stream(codes, 0, SEEK_SET) != 0) return -1;
  const char* name = options.c_array;
  const auto count = static_cast<unsigned long long>(frames);
  std::fprintf(output, "/* %s: %s by imaenc -%d. */\n", name, base_name(options.input),
               options.level);
  std::fprintf(output,
               "#include <stdint.h>\n#define %s_FRAMES %lluUL\n"
               "#if defined(__AVR__)\n#include <avr/pgmspace.h>\n"
               "#if %s_FRAMES > 32767\n"
               "#error \"%s: %llu bytes, more than an AVR array holds (32767)\"\n#endif\n"
               "static const uint8_t %s[%llu] PROGMEM = {\n#else\n"
               "static const uint8_t %s[%llu] = {\n#endif\n",
               name, count, name, name, count, name, count > 0 ? count : 1, name,
               count > 0 ? count : 1);
  if (count == 0) std::fputs("0", output);  // C has no empty array
  unsigned char block[4096];
  std::size_t got = 0;
  std::uint64_t written = 0;
  while ((got = std::fread(block, 1, sizeof block, codes)) > 0) {
    for (std::size_t i = 0; i < got; ++i, ++written)
      std::fprintf(output, "%s0x%02x,",
                   written == 0        ? ""
                   : written % 16 == 0 ? "\n"
                                       : " ",
                   block[i]);
  }
  std::fputs("\n};\n", output);
  return std::ferror(codes) != 0 || std::ferror(output) != 0 ? -1 : 0;
}

// C source holds marks when asked for: --marks, or a loop.
bool has_marks(const Options& options, const Marker& marker) {
  return options.marks_every > 0 || marker.loop.found;
}

// The marks after the array, their count, and the loop.
int write_c_marks(const Options& options, const Marker& marker, std::FILE* output) {
  const char* name = options.c_array;
  const auto count = static_cast<unsigned long long>(marker.marks);
  std::fprintf(output,
               "#ifndef WAV2IMA_PLAYER_IMA_PLAYER_H\n#include \"ima_player.h\"\n#endif\n"
               "#define %s_MARKS %lluUL\n#if defined(__AVR__)\n"
               "static const ImaPlayerMark %s_marks[%llu] PROGMEM = {\n#else\n"
               "static const ImaPlayerMark %s_marks[%llu] = {\n#endif\n",
               name, count, name, count, name, count);
  if (write_marks_as_c(marker.lines, output) != 0) return -1;
  std::fputs("};\n", output);
  if (marker.loop.found) {
    std::fprintf(output, "#define %s_LOOP_START %luUL\n#define %s_LOOP_END %lluUL\n", name,
                 static_cast<unsigned long>(marker.loop.start), name,
                 static_cast<unsigned long long>(marker.loop.end));
  }
  return std::ferror(output) != 0 ? -1 : 0;
}

// The mark lines, from the scratch file's start, into the file named.
int copy_marks(const char* name, std::FILE* lines) {
  std::FILE* file = std::fopen(name, "wb");
  if (file == nullptr || std::fseek(lines, 0, SEEK_SET) != 0) {
    if (file != nullptr) (void)std::fclose(file);
    return -1;
  }
  char block[4096];
  std::size_t got = 0;
  bool failed = false;
  while ((got = std::fread(block, 1, sizeof block, lines)) > 0)
    failed = failed || std::fwrite(block, 1, got, file) != got;
  failed = std::fclose(file) != 0 || failed || std::ferror(lines) != 0;
  return failed ? -1 : 0;
}

// After the stream: the C source, then the loop's check, then the marks.
int finish_outputs(Encoding& encoding, int converted, std::FILE* codes, std::FILE* output,
                   std::FILE* lines) {
  const Options& options = *encoding.options;
  if (lines != nullptr && finish_marks(encoding.marker) != 0) encoding.marks_failed = true;
  if (options.c_array != nullptr && (write_c_array(options, codes, output) != 0 ||
                                     (has_marks(options, encoding.marker) &&
                                      write_c_marks(options, encoding.marker, output) != 0))) {
    encoding.error = errno;
    encoding.failed = Encoding::kWrite;
    return -1;
  }
  if (converted == 0 && !loop_fits(encoding.marker)) {
    encoding.failed = Encoding::kLoopPastEnd;
    return -1;
  }
  if (encoding.marks_failed ||
      (options.marks_file != nullptr && copy_marks(options.marks_file, lines) != 0)) {
    encoding.error = errno;
    encoding.failed = Encoding::kMarksWrite;
    return -1;
  }
  return converted;
}

int convert_stream(Encoding& encoding, std::FILE* output, std::FILE* input,
                   const OutputStart& start);

// Marks follow the stream when asked for or when the input has a loop; a
// regular input is read for its loop first, wherever its sampler chunk lies.
// As C source, the stream waits in a scratch file: the text needs its count.
int convert(void* context, std::FILE* output, std::FILE* input, std::int64_t input_length,
            bool /*output_appends*/, const OutputStart& start) {
  auto& encoding = *static_cast<Encoding*>(context);
  const Options& options = *encoding.options;
  Loop loop = options.loop;
  // Marks are kept where they are written: a file of them, or the C source.
  const bool marks_asked = options.marks_file != nullptr || options.c_array != nullptr;
  if (marks_asked && !loop.found && input_length != kLengthUnknown) {
    (void)walk_wave(input, ChunkVisitor{&loop, step_over_format, step_over_data, note_sampler});
  }
  std::FILE* lines = nullptr;
  std::FILE* codes = output;
  if ((marks_asked && (lines = open_scratch()) == nullptr) ||
      (options.c_array != nullptr && (codes = open_scratch()) == nullptr)) {
    encoding.error = errno;
    encoding.failed = Encoding::kWrite;
    if (lines != nullptr) (void)std::fclose(lines);
    return -1;
  }
  start_marks(encoding.marker, options.marks_every, loop, lines);
  encoding.marking = marks_asked;
  int converted = convert_stream(encoding, codes, input, start);
  if (encoding.started && encoding.failed != Encoding::kWrite) {
    converted = finish_outputs(encoding, converted, codes, output, lines);
  }
  if (lines != nullptr) (void)std::fclose(lines);
  if (codes != output) (void)std::fclose(codes);
  return converted;
}

int convert_stream(Encoding& encoding, std::FILE* output, std::FILE* input,
                   const OutputStart& start) {
  if (encoding.encoder == nullptr) return -1;
  const FrameCoder coder{&encoding, encode_frames};
  Walk walk{Conversion{output, &coder, start, false}, &encoding};
  int walked = walk_wave(input, ChunkVisitor{&walk, take_format, take_data, take_sampler},
                         &encoding.walk_failure);
  if (walked == 0) walked = start_output(walk.conversion);
  encoding.started = walk.conversion.started;
  if (walked != 0 && encoding.walk_failure == WalkFailure::kReadFailed) encoding.error = errno;
  if (encoding.failed == Encoding::kWrite) return -1;
  // The frames the search still holds go out also when the input failed:
  // the output then holds every frame read.
  unsigned char held[IMA_ENCODER_MAX_DELAY];
  const std::size_t count = ima_encoder_finish(encoding.encoder, held);
  if (encoding.listener != nullptr) listen(*encoding.listener, nullptr, 0, held, count);
  if (encoding.marking && follow_stream(encoding.marker, held, count) != 0)
    encoding.marks_failed = true;
  if (std::fwrite(held, 1, count, output) != count) {
    encoding.error = errno;
    encoding.failed = Encoding::kWrite;
    return -1;
  }
  return walked;
}

void explain(void* context, const char*& name, const char*& reason) {
  const auto& encoding = *static_cast<Encoding*>(context);
  name = encoding.options->input;
  switch (encoding.failed) {
    case Encoding::kWrite:
      name = encoding.options->output;
      reason = std::strerror(encoding.error);
      return;
    case Encoding::kRead:
      reason = std::strerror(encoding.error);
      return;
    case Encoding::kCutShort:
      reason = kCutShortWords;
      return;
    case Encoding::kMarksWrite:
      name = encoding.options->marks_file != nullptr ? encoding.options->marks_file
                                                     : encoding.options->output;
      reason = std::strerror(encoding.error);
      return;
    case Encoding::kLoopAfterAudio:
      reason =
          "the loop (smpl chunk) comes after the audio, which cannot be read again: give "
          "--loop START:END";
      return;
    case Encoding::kLoopPastEnd:
      reason = "the loop ends past the stream's last frame";
      return;
    case Encoding::kFormat:
      reason = encoding.format.has_format && encoding.refusals.count > 0
                   ? encoding.refusals.line[0]
                   : "a format chunk under 16 bytes, imaenc converts 16-bit PCM";
      return;
    case Encoding::kNothing:
      break;
  }
  switch (encoding.walk_failure) {
    case WalkFailure::kNotWave:
      reason = kNotWaveWords;
      return;
    case WalkFailure::kReadFailed:
      reason = std::strerror(encoding.error);
      return;
    default:
      reason = kCutShortWords;
  }
}

// The seconds and milliseconds where a segment starts, as m:ss.mmm.
void say_time(char* text, std::size_t size, std::uint64_t segment) {
  const std::uint64_t ms = segment * kSegmentFrames * 1000 / 44100;
  (void)std::snprintf(text, size, "%llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                      static_cast<unsigned long long>(ms / 1000 % 60),
                      static_cast<unsigned long long>(ms % 1000));
}

void report(void* context, const char*& name, const char*& words) {
  auto& encoding = *static_cast<Encoding*>(context);
  if (encoding.listener == nullptr) return;
  Fidelity& fidelity = encoding.listener->fidelity;
  close_segments(fidelity);
  char worst[32] = "none";
  if (fidelity.segments > 0) say_time(worst, sizeof worst, fidelity.worst_segment);
  (void)std::snprintf(encoding.report, sizeof encoding.report,
                      "level %d, SNR %.2f dB, segmental SNR %.2f dB, %llu samples clamped, "
                      "worst 20 ms at %s (%.2f dB)",
                      encoding.options->level, snr_db(fidelity), segmental_snr_db(fidelity),
                      static_cast<unsigned long long>(fidelity.clamped), worst,
                      fidelity.segments > 0 ? fidelity.worst_db : kSegmentCeilingDb);
  name = encoding.options->input;
  words = encoding.report;
}

// A C identifier: a letter or underscore, then letters, digits, underscores.
bool is_c_name(const char* name) {
  const auto is_letter = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  };
  if (!is_letter(name[0])) return false;
  for (const char* at = name; *at != '\0'; ++at) {
    if (!is_letter(*at) && !(*at >= '0' && *at <= '9')) return false;
  }
  return true;
}

// A decimal count from 0 to `most`, all of `text` up to `end` (none: to its
// end). False on anything else.
bool parse_count(const char* text, char end, std::uint64_t most, std::uint64_t& value) {
  value = 0;
  const char* at = text;
  for (; *at >= '0' && *at <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint64_t>(*at - '0');
    if (value > most) return false;
  }
  return at != text && *at == end;
}

// --marks N (N >= 1) and --loop START:END (START < END, END at most 2^32).
bool parse_marks(const char* every, Options& options) {
  std::uint64_t value = 0;
  if (!parse_count(every, '\0', UINT32_MAX, value) || value == 0) return false;
  options.marks_every = static_cast<std::uint32_t>(value);
  return true;
}

bool parse_loop(const char* text, Options& options) {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  if (!parse_count(text, ':', UINT32_MAX, start)) return false;
  const char* after = std::strchr(text, ':') + 1;
  if (!parse_count(after, '\0', std::uint64_t{UINT32_MAX} + 1, end) || end <= start) return false;
  options.loop = Loop{true, static_cast<std::uint32_t>(start), end};
  return true;
}

// An option that takes the next argument: true when `name` is one and
// `value` suits it.
bool take_valued_option(const char* name, const char* value, Options& options) {
  if (std::strcmp(name, "--c-array") == 0 && is_c_name(value)) {
    options.c_array = value;
    return true;
  }
  if (std::strcmp(name, "--marks") == 0) return parse_marks(value, options);
  if (std::strcmp(name, "--loop") == 0) return parse_loop(value, options);
  if (std::strcmp(name, "--marks-file") == 0) {
    options.marks_file = value;
    return true;
  }
  return false;
}

// The options, then exactly two names. False on anything else.
bool parse(int argc, char** argv, Options& options) {
  int names = 0;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_end && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        options_end = true;
      } else if (std::strcmp(arg, "--report") == 0) {
        options.report = true;
      } else if (i + 1 < argc && take_valued_option(arg, argv[i + 1], options)) {
        ++i;
      } else if (arg[1] >= '0' && arg[1] <= '9' && arg[2] == '\0') {
        options.level = arg[1] - '0';
      } else {
        return false;
      }
      continue;
    }
    if (++names == 1) {
      options.input = arg;
    } else if (names == 2) {
      options.output = arg;
    }
  }
  return names == 2;
}

// Static: a block's frames and what the player heard of them are too large
// for small stacks.
Encoding encoding;
Listener listener;

}  // namespace

int run_imaenc(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    std::printf(
        "Writes IN.wav (16-bit stereo PCM, 44100 Hz) as a headerless IMA ADPCM stream in OUT,\n"
        "codes chosen by search; every IMA player plays it as it is.\n"
        "  -0         exactly what wav2ima writes\n"
        "  -1 ... -9  search more, for sound nearer the input (default -%d)\n"
        "  --report   after converting, how near: SNR, segmental SNR, clamped samples\n"
        "  --c-array NAME  OUT is C source: the stream as an array NAME (in flash on\n"
        "             AVR), its frame count NAME_FRAMES, and the marks as NAME_marks\n"
        "  --marks N  a mark of the decoder's state every N frames, and at frame 0\n"
        "  --loop START:END  the loop (END exclusive; else the input's smpl chunk):\n"
        "             a mark at START\n"
        "  --marks-file FILE  the marks as text: FRAME LEFT_PREDICTOR LEFT_INDEX\n"
        "             RIGHT_PREDICTOR RIGHT_INDEX a line, then \"loop START END\"\n",
        kDefaultLevel);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("imaenc %s\n", WAV2IMA_VERSION);
    return 0;
  }
  Options options;
  if (!parse(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  encoding = Encoding{};
  encoding.options = &options;
  encoding.encoder = ima_encoder_new(options.level);
  if (options.report) {
    listener = Listener{};
    ima_player_reset(&listener.player);
    encoding.listener = &listener;
  }
  char* names[] = {argv[0], const_cast<char*>(options.input), const_cast<char*>(options.output),
                   nullptr};
  const Program program{convert, &encoding, true, "imaenc", explain, report};
  if (encoding.encoder == nullptr) {
    encoding.failed = Encoding::kRead;
    encoding.error = ENOMEM;
  }
  const int status = run_conversion(3, names, program);
  ima_encoder_free(encoding.encoder);
  return status;
}

}  // namespace wav2ima
