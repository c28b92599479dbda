#include "adpcm/decoder.h"

#include <cstdint>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "adpcm/encoder.h"
#include "tests/test_files.h"
#include "wave/canonical_header.h"
#include "wave/ima_to_wave.h"

using namespace wav2ima;

namespace {

std::int16_t sample_at(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::int16_t>(
      static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8));
}

Bytes square_frames(int n) {
  std::vector<std::pair<std::int16_t, std::int16_t>> samples;
  for (int i = 0; i < n; ++i) {
    const bool high = (i / 37) % 2 == 0;
    samples.push_back({high ? std::int16_t{32767} : std::int16_t{-32768},
                       high ? std::int16_t{-32768} : std::int16_t{32767}});
  }
  return frames(samples);
}

Bytes sweep_frames(int n) {
  std::vector<std::pair<std::int16_t, std::int16_t>> samples;
  for (int i = 0; i < n; ++i) {
    // A triangle whose slope rises: slow first, then faster than the steps follow.
    const int phase = (i * (1 + i / 500)) % 4000;
    const int left = phase < 2000 ? phase * 30 - 30000 : (4000 - phase) * 30 - 30000;
    samples.push_back({static_cast<std::int16_t>(left), static_cast<std::int16_t>(-left / 2)});
  }
  return frames(samples);
}

// What a player hears is what the encoder predicted: the decoded samples
// equal the encoder's predictors after every frame.
TEST(Ima2wav, DecodesToTheEncodersPredictors) {
  const Bytes body =
      sweep_frames(3000) + noise_frames(2000) + square_frames(1500) + Bytes(4000, 0);  // silence
  const std::size_t split = 4 * 4321;
  const Bytes wav =
      riff(chunk("fmt ", fmt16()) + chunk("data", Bytes(body.begin(), body.begin() + split)) +
           chunk("data", Bytes(body.begin() + split, body.end())));
  std::vector<std::int32_t> predictors;
  reset_encoder_state();
  for (std::size_t at = 0; at < body.size(); at += 4) {
    (void)encode_sample(sample_at(body, at), encoder_state.predictor[0],
                        encoder_state.step_index[0]);
    (void)encode_sample(sample_at(body, at + 2), encoder_state.predictor[1],
                        encoder_state.step_index[1]);
    predictors.push_back(encoder_state.predictor[0]);
    predictors.push_back(encoder_state.predictor[1]);
  }

  TempDir dir;
  write_file(dir / "in.wav", wav);
  ASSERT_EQ(run_program(WAV2IMA_PATH, {"in.wav", "in.ima"}, dir.path).status, 0);
  const RunResult run = run_program(IMA2WAV_PATH, {"in.ima", "out.wav"}, dir.path);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "converting in.ima\n");
  EXPECT_EQ(run.err, "");
  const Bytes decoded = read_file(dir / "out.wav");
  ASSERT_EQ(decoded.size(), kCanonicalHeaderSize + body.size());
  for (std::size_t i = 0; i < predictors.size(); ++i) {
    ASSERT_EQ(sample_at(decoded, kCanonicalHeaderSize + 2 * i), predictors[i]) << "sample " << i;
  }
  EXPECT_EQ(run_program(WAV2IMA_PATH, {"out.wav", "again.ima"}, dir.path).status, 0);
}

// Codes 7 and 15 at every step move the predictor by 15 * step / 8, and the
// step index up by 8: 13, 30, 63, 136, 294, 631, 1357, 2910, 6238, 13372,
// 28666 from step index 0, 8, ..., 80, then 61438 at 88. The eleventh sum,
// 53710, passes either rail and is held there.
TEST(Ima2wav, HandDerivedFrames) {
  const std::vector<std::int16_t> rise = {13,   43,   106,   242,   536,   1167,
                                          2524, 5434, 11672, 25044, 32767, 32767};
  std::vector<std::pair<std::int16_t, std::int16_t>> up;
  std::vector<std::pair<std::int16_t, std::int16_t>> down;
  for (const std::int16_t level : rise) {
    up.push_back({level, level});
    const auto low = static_cast<std::int16_t>(level == 32767 ? -32768 : -level);
    down.push_back({low, low});
  }
  struct Row {
    const char* name;
    Bytes stream;
    Bytes want_samples;
  };
  const Row rows[] = {
      {"left code 7, right code 15",
       {0x7F, 0x7F, 0x7F, 0x7F},
       frames({{13, -13}, {43, -43}, {106, -106}, {242, -242}})},
      {"held at the top rail", Bytes(12, 0x77), frames(up)},
      {"held at the bottom rail", Bytes(12, 0xFF), frames(down)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "in.ima", row.stream);
    ASSERT_EQ(run_program(IMA2WAV_PATH, {"in.ima", "out.wav"}, dir.path).status, 0);
    const auto data_size = static_cast<std::uint32_t>(row.want_samples.size());
    const Bytes want_header = text("RIFF") + le32(36 + data_size) + text("WAVE") +
                              chunk("fmt ", fmt16()) + chunk("data", data_size, {});
    EXPECT_EQ(read_file(dir / "out.wav"), want_header + row.want_samples);
  }
}

TEST(Ima2wav, SharesTheDriversChecks) {
  TempDir dir;
  write_file(dir / "in.ima", {0x7F});
  const RunResult same = run_program(IMA2WAV_PATH, {"in.ima", "./in.ima"}, dir.path);
  EXPECT_EQ(same.status, 1);
  EXPECT_EQ(same.err, "can not open ./in.ima\n");
  EXPECT_EQ(read_file(dir / "in.ima"), Bytes{0x7F});
  if (!full_device().empty()) {
    const RunResult full = run_program(IMA2WAV_PATH, {"in.ima", full_device()}, dir.path);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "convert error\n");
  }
  const RunResult none = run_program(IMA2WAV_PATH, {}, dir.path);
  EXPECT_EQ(none.err, "can not open (null)\n");
  std::filesystem::create_directory(dir / "sub");
  const RunResult folder = run_program(IMA2WAV_PATH, {"sub", "out.wav"}, dir.path);
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.out, "");
  EXPECT_EQ(folder.err, "can not open sub\n");
  EXPECT_FALSE(file_exists(dir / "out.wav"));
}

// The input's length is taken before the run; another program then cuts or
// extends the file. Only an output that can go back to fix its header may
// end in success.
TEST(Ima2wav, InputThatChangesLengthUnderIt) {
  struct Row {
    const char* name;
    std::int64_t length_taken;
    bool output_can_seek;
    int want_result;
    std::uint32_t want_data_size;
  };
  const Row rows[] = {
      {"cut, header rewritten", 100, true, 0, 4 * 60},
      {"grown, header rewritten", 40, true, 0, 4 * 60},
      {"cut, output a pipe", 100, false, -1, 4 * 100},
      {"grown, output a pipe", 40, false, -1, 4 * 40},
      {"unchanged, output a pipe", 60, false, 0, 4 * 60},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::FILE* input = stream_of(Bytes(60, 0x7F));
    // Small enough for the pipe's buffer: no reader needed while it runs.
    const Pipe pipe = open_pipe();
    std::FILE* output = row.output_can_seek ? std::tmpfile() : pipe.writer;
    EXPECT_EQ(convert_ima_file(output, input, row.length_taken, false), row.want_result);
    std::fclose(pipe.writer);  // the reader then finds the end
    const Bytes written = contents(row.output_can_seek ? output : pipe.reader);
    if (row.output_can_seek) std::fclose(output);
    std::fclose(pipe.reader);
    std::fclose(input);
    ASSERT_EQ(written.size(), kCanonicalHeaderSize + 4 * 60u);
    EXPECT_EQ(Bytes(written.begin() + 4, written.begin() + 8), le32(36 + row.want_data_size));
    EXPECT_EQ(Bytes(written.begin() + 40, written.begin() + 44), le32(row.want_data_size));
  }
}

}  // namespace
