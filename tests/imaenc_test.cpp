#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adpcm/encoder.h"
#include "adpcm/fidelity.h"
#include "adpcm/ima_encoder.h"
#include "adpcm/nearest.h"
#include "adpcm/tables.h"
#include "player/ima_player.h"
#include "tests/test_files.h"
#include "tools/signals.h"

using namespace wav2ima;

namespace {

using Samples = std::vector<std::int16_t>;

Samples signal(const char* kind, std::size_t frames) {
  Generator g{kind, frames};
  Samples samples(2 * frames);
  for (std::size_t i = 0; i < frames; ++i)
    next_frame(g, samples.data() + 2 * i);
  return samples;
}

// A full-scale sweep driven 12 dB into the rails, as loud masters are.
Samples clipped(std::size_t frames) {
  Samples samples = signal("sweep", frames);
  for (std::int16_t& s : samples)
    s = static_cast<std::int16_t>(std::clamp(4 * s, -32768, 32767));
  return samples;
}

// The stream a level writes for the frames, fed in pieces of `piece` frames;
// with `marks`, the encoder's mark after each piece.
Bytes encode(int level, const Samples& frames, std::size_t piece,
             std::vector<ImaPlayerMark>* marks = nullptr) {
  ImaEncoder* encoder = ima_encoder_new(level);
  const std::size_t count = frames.size() / 2;
  Bytes out(count + IMA_ENCODER_MAX_DELAY);
  std::size_t written = 0;
  for (std::size_t done = 0; done < count; done += piece) {
    const std::size_t n = std::min(piece, count - done);
    const std::size_t got = ima_encoder_feed(encoder, frames.data() + 2 * done, n, &out[written]);
    EXPECT_LE(got, n + IMA_ENCODER_MAX_DELAY);
    written += got;
    if (marks != nullptr) ima_encoder_mark(encoder, &marks->emplace_back());
  }
  written += ima_encoder_finish(encoder, &out[written]);
  ima_encoder_free(encoder);
  out.resize(written);
  return out;
}

// Each mark is the state after its frame's bytes, and a player that seeks
// to it, then skips to a frame after it, plays from there what a player
// from the first byte plays.
void expect_marks_enter_the_stream(const Bytes& stream, const std::vector<ImaPlayerMark>& marks) {
  ImaPlayer player;
  ima_player_reset(&player);
  Samples whole(2 * stream.size());
  ima_player_decode(&player, stream.data(), stream.size(), whole.data());
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const ImaPlayerMark& mark = marks[i];
    ASSERT_LE(mark.frame, stream.size());
    ImaPlayer reached;
    ima_player_reset(&reached);
    ima_player_skip(&reached, stream.data(), mark.frame);
    EXPECT_EQ(std::memcmp(&reached, &mark.state, sizeof reached), 0) << "mark at " << mark.frame;
    const std::uint32_t target =
        mark.frame +
        static_cast<std::uint32_t>((mark.frame * 7919U) % (stream.size() - mark.frame + 1));
    ImaPlayer seeker;
    const std::uint32_t from = ima_player_seek(&seeker, marks.data(), i + 1, target);
    EXPECT_EQ(from, mark.frame);
    EXPECT_EQ(ima_player_seek(&seeker, marks.data(), i + 1, mark.frame), mark.frame);
    ima_player_skip(&seeker, stream.data() + from, target - from);
    Samples rest(2 * (stream.size() - target));
    ima_player_decode(&seeker, stream.data() + target, stream.size() - target, rest.data());
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(),
                           whole.begin() + 2 * static_cast<std::ptrdiff_t>(target)))
        << "seek to " << target;
  }
}

// What a player plays of the stream, against the input: SNR and segmental SNR.
std::pair<double, double> played(const Bytes& stream, const Samples& input) {
  ImaPlayer player;
  ima_player_reset(&player);
  Samples decoded(2 * stream.size());
  ima_player_decode(&player, stream.data(), stream.size(), decoded.data());
  Fidelity fidelity{};
  add_frames(fidelity, input.data(), decoded.data(), stream.size());
  close_segments(fidelity);
  return {snr_db(fidelity), segmental_snr_db(fidelity)};
}

TEST(ImaEncoder, LevelsOutsideZeroToNineMakeNoEncoder) {
  for (const int level : {-1, 10, 1000}) {
    SCOPED_TRACE(level);
    EXPECT_EQ(ima_encoder_new(level), nullptr);
  }
  ima_encoder_free(nullptr);
}

// Level 0 is the rule, byte for byte: the process-wide encoder's bytes.
TEST(ImaEncoder, LevelZeroWritesTheRulesBytes) {
  const Samples frames = signal("noise", 5000);
  reset_encoder_state();
  Bytes rule;
  for (std::size_t i = 0; i < frames.size(); i += 2) {
    const int left =
        encode_sample(frames[i], encoder_state.predictor[0], encoder_state.step_index[0]);
    const int right =
        encode_sample(frames[i + 1], encoder_state.predictor[1], encoder_state.step_index[1]);
    rule.push_back(static_cast<unsigned char>(left << 4 | right));
  }
  EXPECT_EQ(encode(0, frames, 777), rule);
}

// Every level: one byte a frame, the same bytes however the frames are
// split, never further from the input than the rule, in SNR or segmental
// SNR, and a new stream after finish.
TEST(ImaEncoder, EveryLevelOnEverySignal) {
  struct Row {
    const char* name;
    Samples frames;
  };
  const Row rows[] = {
      {"sweep", signal("sweep", 3000)},         {"noise", signal("noise", 1500)},
      {"square rails", signal("square", 1500)}, {"clipped sweep", clipped(3000)},
      {"silence", signal("silence", 1000)},     {"three frames", signal("noise", 3)},
  };
  for (const Row& row : rows) {
    for (int level = 0; level <= IMA_ENCODER_LEVEL_MAX; ++level) {
      SCOPED_TRACE(std::string(row.name) + ", level " + std::to_string(level));
      // The searches are slow under the sanitizers: their share is shorter.
      const std::size_t count =
          std::min<std::size_t>(row.frames.size() / 2, level < 4 ? 3000 : 200);
      const Samples frames(row.frames.begin(),
                           row.frames.begin() + 2 * static_cast<std::ptrdiff_t>(count));
      const auto [rule_snr, rule_segmental] = played(encode(0, frames, count), frames);
      const Bytes whole = encode(level, frames, count);
      ASSERT_EQ(whole.size(), count);
      EXPECT_EQ(encode(level, frames, 1), whole);
      std::vector<ImaPlayerMark> marks;
      EXPECT_EQ(encode(level, frames, 101, &marks), whole);
      expect_marks_enter_the_stream(whole, marks);
      const auto [snr, segmental] = played(whole, frames);
      EXPECT_GE(snr, rule_snr - 1e-9);
      EXPECT_GE(segmental, rule_segmental - 1e-9);
    }
  }
}

TEST(ImaEncoder, FinishStartsANewStream) {
  const Samples frames = signal("sweep", 3000);
  for (const int level : {0, 3, 7}) {
    SCOPED_TRACE(level);
    ImaEncoder* encoder = ima_encoder_new(level);
    Bytes first(3000 + IMA_ENCODER_MAX_DELAY);
    std::size_t n = ima_encoder_feed(encoder, frames.data(), 3000, first.data());
    n += ima_encoder_finish(encoder, first.data() + n);
    Bytes again(3000 + IMA_ENCODER_MAX_DELAY);
    std::size_t m = ima_encoder_feed(encoder, frames.data(), 3000, again.data());
    m += ima_encoder_finish(encoder, again.data() + m);
    ima_encoder_free(encoder);
    EXPECT_EQ(n, 3000u);
    EXPECT_EQ(m, 3000u);
    EXPECT_EQ(first, again);
  }
}

// The nearest code, and the look-ahead's error of it, against every code
// toward the sample tried in turn, where the decoder clamps too: the fast
// paths and the exact comparison near the rails.
TEST(ImaEncoder, NearestCodeLandsNearestOfTheCodesTowardTheSample) {
  for (std::int32_t index = 0; index <= kStepIndexMax; ++index) {
    for (std::int32_t predictor = -32768; predictor <= 32767; predictor += 1021) {
      for (std::int32_t sample = -32768; sample <= 32767; sample += 523) {
        std::int32_t p = predictor;
        std::int32_t i = index;
        const int code = encode_sample_nearest(sample, p, i);
        const int sign = sample < predictor ? 8 : 0;
        std::int32_t best = 1 << 30;
        for (int magnitude = 0; magnitude < 8; ++magnitude) {
          const std::int32_t reached =
              std::clamp(predictor + code_step(index, magnitude | sign).delta, -32768, 32767);
          best = std::min(best, std::abs(sample - reached));
        }
        ASSERT_EQ(std::abs(sample - p), best) << sample << " " << predictor << " " << index;
        ASSERT_EQ(nearest_error(sample, predictor, index), squared(best));
        ASSERT_EQ(code & 8, sign);
        ASSERT_EQ(i, code_step(index, code).next_step_index);
      }
    }
  }
}

// Hand-derived rows: where the rule's code and the nearest part.
TEST(ImaEncoder, NearestCodeAtTheEdges) {
  struct Row {
    std::int32_t sample, predictor, index;
    int want_code;
    std::int32_t want_predictor, want_index;
  };
  const Row rows[] = {
      // Halfway between levels 3 * 7 / 8 = 2 and 5 * 7 / 8 = 4: the larger
      // (the rule: magnitude 1).
      {3, 0, 0, 2, 4, 0},
      // Halfway between levels 1 * 7 / 8 = 0 and 2 (the rule: 0).
      {1, 0, 0, 1, 2, 0},
      {-1, 0, 0, 9, -2, 0},
      // The largest level, 15 * 7 / 8 = 13, for anything from 12 up.
      {1000, 0, 0, 7, 13, 8},
      // At a rail every code from 0 up lands on it: the largest keeps the step.
      {32767, 32767, 88, 7, 32767, 88},
      // Past the lower rail, down lands on it: the largest code down.
      {-32768, -32700, 88, 15, -32768, 88},
      // Above the predictor (step 3327): up by 415 misses by 341, though the
      // rail would hold a move down 331 away; the step falls by one.
      {-32437, -32511, 64, 0, -32096, 63},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sample);
    std::int32_t predictor = row.predictor;
    std::int32_t index = row.index;
    EXPECT_EQ(encode_sample_nearest(row.sample, predictor, index), row.want_code);
    EXPECT_EQ(predictor, row.want_predictor);
    EXPECT_EQ(index, row.want_index);
  }
}

// What --report and the benchmark measure, on hand-made frames: a segment
// played exactly counts 60 dB, silence played wrong -10, and the worst
// segment is the one furthest from its input.
TEST(Fidelity, SegmentsHeldAndTheWorstFound) {
  struct Row {
    const char* name;
    std::int16_t first_input, first_played, second_input, second_played;
    double want_snr, want_segmental, want_worst_db;
    std::uint64_t want_worst;
  };
  const Row rows[] = {
      {"played exactly", 1000, 1000, -1000, -1000, 60.0, 60.0, 60.0, 0},
      // 1000 played as 900 in the second segment: 10 log10(1e6 / 1e4) = 20 dB.
      {"one segment off by a tenth", 1000, 1000, 1000, 900, 10 * std::log10(2e6 / 1e4), 40.0, 20.0,
       1},
      // Silence played as 1: the floor, -10 dB, for that segment.
      {"silence played wrong", 1000, 1000, 0, 1, 10 * std::log10(1e6), 25.0, -10.0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fidelity fidelity{};
    for (const auto& [input, played] : {std::pair{row.first_input, row.first_played},
                                        std::pair{row.second_input, row.second_played}}) {
      const Samples in(2 * kSegmentFrames, input);
      const Samples out(2 * kSegmentFrames, played);
      add_frames(fidelity, in.data(), out.data(), kSegmentFrames);
    }
    close_segments(fidelity);
    EXPECT_NEAR(snr_db(fidelity), row.want_snr, 1e-9);
    EXPECT_NEAR(segmental_snr_db(fidelity), row.want_segmental, 1e-9);
    EXPECT_NEAR(fidelity.worst_db, row.want_worst_db, 1e-9);
    EXPECT_EQ(fidelity.worst_segment, row.want_worst);
    EXPECT_EQ(fidelity.segments, 2U);
  }
}

// The program.
RunResult imaenc(const std::vector<std::string>& args, const TempDir& dir) {
  return run_program(IMAENC_PATH, args, dir.path);
}

const std::string kUsage =
    "usage: imaenc [-0 ... -9] [--report] [--c-array NAME] [--marks N] [--loop START:END]\n"
    "              [--marks-file FILE] IN.wav OUT\n";

// Every row runs in a directory holding "in.wav" (the 60-byte example),
// "mono.wav", "float48k.wav", "text.txt" (not RIFF), "cut.wav" (cut short
// inside its data), "header.wav" (cut short inside a chunk header after its
// data) and "out.ima", an existing output, which a refused input leaves as it
// was.
TEST(Imaenc, MessagesStatusAndOutput) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int want_status;
    std::string want_out;
    std::string want_err;
    Bytes want_output;  // of "out.ima"
  };
  const Bytes four7F = {0x7F, 0x7F, 0x7F, 0x7F};
  const Bytes old(100, 0x55);
  const Row rows[] = {
      {"no arguments", {}, 2, "", kUsage, old},
      {"one name", {"in.wav"}, 2, "", kUsage, old},
      {"three names", {"in.wav", "out.ima", "x"}, 2, "", kUsage, old},
      {"unknown option", {"-x", "in.wav", "out.ima"}, 2, "", kUsage, old},
      {"level past 9", {"-10", "in.wav", "out.ima"}, 2, "", kUsage, old},
      {"version", {"--version"}, 0, "imaenc " WAV2IMA_VERSION "\n", "", old},
      {"an array named as no C name", {"--c-array", "4k", "in.wav", "out.ima"}, 2, "", kUsage, old},
      {"an array without a name", {"in.wav", "out.ima", "--c-array"}, 2, "", kUsage, old},
      {"a refused input as C source",
       {"--c-array", "a", "--marks-file", "marks.txt", "mono.wav", "out.ima"},
       1,
       "",
       "imaenc: mono.wav: mono: 1 channel, imaenc converts stereo\n",
       old},
      {"the stream as C source",
       {"-0", "--c-array", "asset_1", "in.wav", "out.ima"},
       0,
       "",
       "",
       text("/* asset_1: in.wav by imaenc -0. */\n#include <stdint.h>\n"
            "#define asset_1_FRAMES 4UL\n#if defined(__AVR__)\n#include <avr/pgmspace.h>\n"
            "#if asset_1_FRAMES > 32767\n"
            "#error \"asset_1: 4 bytes, more than an AVR array holds (32767)\"\n#endif\n"
            "static const uint8_t asset_1[4] PROGMEM = {\n#else\n"
            "static const uint8_t asset_1[4] = {\n#endif\n0x7f, 0x7f, 0x7f, 0x7f,\n};\n")},
      {"C source with marks and a loop",
       {"-0", "--c-array", "a", "--marks", "2", "--loop", "1:3", "in.wav", "out.ima"},
       0,
       "",
       "",
       text("/* a: in.wav by imaenc -0. */\n#include <stdint.h>\n#define a_FRAMES 4UL\n"
            "#if defined(__AVR__)\n#include <avr/pgmspace.h>\n#if a_FRAMES > 32767\n"
            "#error \"a: 4 bytes, more than an AVR array holds (32767)\"\n#endif\n"
            "static const uint8_t a[4] PROGMEM = {\n#else\nstatic const uint8_t a[4] = {\n"
            "#endif\n0x7f, 0x7f, 0x7f, 0x7f,\n};\n"
            "#ifndef WAV2IMA_PLAYER_IMA_PLAYER_H\n#include \"ima_player.h\"\n#endif\n"
            "#define a_MARKS 3UL\n#if defined(__AVR__)\n"
            "static const ImaPlayerMark a_marks[3] PROGMEM = {\n#else\n"
            "static const ImaPlayerMark a_marks[3] = {\n#endif\n"
            "{0UL, {{0, 0}, {0, 0}}},\n{1UL, {{13, -13}, {8, 8}}},\n{2UL, {{43, -43}, {16, 16}}},\n"
            "};\n#define a_LOOP_START 1UL\n#define a_LOOP_END 3UL\n")},
      {"rule, silently", {"-0", "in.wav", "out.ima"}, 0, "", "", four7F},
      {"default level", {"in.wav", "out.ima"}, 0, "", "", four7F},
      {"options after the names", {"in.wav", "out.ima", "-0"}, 0, "", "", four7F},
      {"a name after --", {"-0", "--", "in.wav", "out.ima"}, 0, "", "", four7F},
      {"missing input",
       {"missing.wav", "out.ima"},
       1,
       "",
       "imaenc: missing.wav: No such file or directory\n",
       old},
      {"not RIFF", {"text.txt", "out.ima"}, 1, "", "imaenc: text.txt: not a RIFF/WAVE file\n", old},
      {"mono",
       {"mono.wav", "out.ima"},
       1,
       "",
       "imaenc: mono.wav: mono: 1 channel, imaenc converts stereo\n",
       old},
      {"48 kHz float",
       {"float48k.wav", "out.ima"},
       1,
       "",
       "imaenc: float48k.wav: floating-point samples, imaenc converts 16-bit PCM\n",
       old},
      {"a chunk header cut short",
       {"--report", "header.wav", "out.ima"},
       1,
       "",
       "imaenc: header.wav: cut short: the file ends before its last chunk does\n",
       Bytes{0x7F, 0x7F}},
      {"cut short keeps the frames before",
       {"-0", "cut.wav", "out.ima"},
       1,
       "",
       "imaenc: cut.wav: cut short: the file ends before its last chunk does\n",
       {0x7F, 0x7F, 0x7F}},
      {"the input as output",
       {"in.wav", "in.wav"},
       1,
       "",
       "imaenc: in.wav: the same file as the input\n",
       old},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "in.wav", example60());
    Bytes mono = fmt16();
    mono[2] = 1;
    write_file(dir / "mono.wav", riff(chunk("fmt ", mono) + chunk("data", loud_frames(2))));
    write_file(dir / "text.txt", text("hello, this is not audio\n"));
    write_file(dir / "cut.wav",
               riff(100, chunk("fmt ", fmt16()) + chunk("data", 64, loud_frames(3))));
    Bytes float48k = fmt16();
    float48k[0] = 3;
    float48k[4] = 0x80;
    float48k[5] = 0xBB;
    write_file(dir / "float48k.wav", riff(chunk("fmt ", float48k) + chunk("data", loud_frames(2))));
    write_file(dir / "header.wav",
               riff(100, chunk("fmt ", fmt16()) + chunk("data", loud_frames(2)) + text("LIS")));
    write_file(dir / "out.ima", old);
    const RunResult run = imaenc(row.args, dir);
    EXPECT_EQ(run.status, row.want_status);
    EXPECT_EQ(run.out, row.want_out);
    EXPECT_EQ(run.err, row.want_err);
    EXPECT_EQ(read_file(dir / "out.ima"), row.want_output);
    EXPECT_EQ(read_file(dir / "in.wav"), example60());
  }
}

// --report: one line after the conversion, what a player plays of it. The
// example's four frames of 1000 play as 13, 43, 106 and 242 both ways:
// 8e6 / 2 * (987^2 + 957^2 + 894^2 + 758^2), 0.88 dB.
TEST(Imaenc, ReportSaysHowNearThePlayerPlays) {
  TempDir dir;
  write_file(dir / "in.wav", example60());
  const RunResult run = imaenc({"-1", "--report", "in.wav", "out.ima"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "imaenc: in.wav: level 1, SNR 0.88 dB, segmental SNR 0.88 dB, 0 samples clamped, "
            "worst 20 ms at 0:00.000 (0.88 dB)\n");
}

// Through pipes, standard input and output named as files, at a level that
// holds frames back: the bytes of the files.
TEST(Imaenc, PipesGiveTheFilesBytes) {
  if (skipped_without_pipe_view()) return;
  TempDir dir;
  const Bytes wav = riff(chunk("fmt ", fmt16()) + chunk("data", noise_frames(20000)));
  write_file(dir / "in.wav", wav);
  ASSERT_EQ(imaenc({"-5", "in.wav", "file.ima"}, dir).status, 0);
  RunOptions piped;
  piped.stdin_from = "in.wav";
  piped.stdout_channel = Channel::kPipe;
  const RunResult through =
      run_program(IMAENC_PATH, {"-5", "/dev/stdin", "/dev/stdout"}, dir.path, piped);
  EXPECT_EQ(through.status, 0);
  EXPECT_EQ(Bytes(through.out.begin(), through.out.end()), read_file(dir / "file.ima"));
}

}  // namespace

namespace {

// A sampler chunk holding one loop, from `start` to `end`, its last frame.
Bytes sampler(std::uint32_t start, std::uint32_t end) {
  Bytes body(60, 0);
  const auto put = [&](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
      body[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  put(28, 1);
  put(44, start);
  put(48, end);
  return chunk("smpl", body);
}

}  // namespace

// The marks file: a mark every N frames and at the loop's start, each the
// state a player reaches after that many bytes of what imaenc wrote, then
// the loop; the loop from --loop, or the sampler chunk wherever it lies in
// a file, and a refusal to guess where a pipe has it after the audio.
TEST(Imaenc, MarksAndLoops) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    Bytes wav;
    bool piped;
    int want_status;
    std::vector<std::uint32_t> want_frames;  // of the marks
    std::string want_loop;                   // the last line, or the message
  };
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes data = chunk("data", noise_frames(5000));
  const std::vector<std::string> marks_file = {"--marks-file", "marks.txt"};
  const auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), marks_file.begin(), marks_file.end());
    args.insert(args.end(), {"in.wav", "out.ima"});
    return args;
  };
  const Row rows[] = {
      {"every 2000 frames",
       with({"--marks", "2000"}),
       riff(fmt + data),
       false,
       0,
       {0, 2000, 4000},
       ""},
      {"no loop, no --marks: frame 0", with({"-5"}), riff(fmt + data), false, 0, {0}, ""},
      {"an empty stream: frame 0",
       with({"--marks", "3"}),
       riff(fmt + chunk("data", Bytes{})),
       false,
       0,
       {0},
       ""},
      {"a sampler chunk before the audio",
       with({}),
       riff(fmt + sampler(1000, 2999) + data),
       false,
       0,
       {0, 1000},
       "loop 1000 3000"},
      {"a sampler chunk after the audio",
       with({"--marks", "4500"}),
       riff(fmt + data + sampler(1000, 2999)),
       false,
       0,
       {0, 1000, 4500},
       "loop 1000 3000"},
      {"--loop over the chunk",
       with({"-7", "--loop", "2500:4999"}),
       riff(fmt + sampler(1000, 2999) + data),
       false,
       0,
       {0, 2500},
       "loop 2500 4999"},
      {"a pipe, the chunk before the audio",
       {"--marks-file", "marks.txt", "/dev/stdin", "out.ima"},
       riff(fmt + sampler(7, 7) + data),
       true,
       0,
       {0, 7},
       "loop 7 8"},
      {"a pipe, the chunk after the audio",
       {"--marks-file", "marks.txt", "/dev/stdin", "out.ima"},
       riff(fmt + data + sampler(7, 7)),
       true,
       1,
       {},
       "imaenc: /dev/stdin: the loop (smpl chunk) comes after the audio, which cannot be read "
       "again: give --loop START:END\n"},
      {"a loop past the end",
       with({"--loop", "10:5001"}),
       riff(fmt + data),
       false,
       1,
       {},
       "imaenc: in.wav: the loop ends past the stream's last frame\n"},
      {"--marks 0", with({"--marks", "0"}), riff(fmt + data), false, 2, {}, kUsage},
      {"--loop with its end first",
       with({"--loop", "9:9"}),
       riff(fmt + data),
       false,
       2,
       {},
       kUsage},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.piped && skipped_without_pipe_view()) continue;
    TempDir dir;
    write_file(dir / "in.wav", row.wav);
    RunOptions options;
    if (row.piped) options.stdin_from = "in.wav";
    const RunResult run = run_program(IMAENC_PATH, row.args, dir.path, options);
    EXPECT_EQ(run.status, row.want_status);
    if (row.want_status != 0) {
      EXPECT_EQ(run.err, row.want_loop);
      continue;
    }
    const Bytes stream = read_file(dir / "out.ima");
    const Bytes marks = read_file(dir / "marks.txt");
    std::istringstream lines(std::string(marks.begin(), marks.end()));
    std::vector<std::uint32_t> frames;
    std::string line;
    std::string last;
    while (std::getline(lines, line)) {
      last = line;
      if (line.rfind("loop", 0) == 0) break;
      std::istringstream fields(line);
      std::uint32_t frame = 0;
      int left = 0, left_index = 0, right = 0, right_index = 0;
      fields >> frame >> left >> left_index >> right >> right_index;
      ImaPlayer reached;
      ima_player_reset(&reached);
      ima_player_skip(&reached, stream.data(), frame);
      EXPECT_EQ(std::vector<int>({left, left_index, right, right_index}),
                std::vector<int>({reached.predictor[0], reached.step_index[0], reached.predictor[1],
                                  reached.step_index[1]}))
          << "mark at " << frame;
      frames.push_back(frame);
    }
    EXPECT_EQ(frames, row.want_frames);
    EXPECT_EQ(row.want_loop.empty() ? "" : last, row.want_loop);
  }
}
