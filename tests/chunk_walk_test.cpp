#include "wave/chunk_walk.h"

#include <gtest/gtest.h>

#include "adpcm/encoder.h"
#include "tests/test_files.h"
#include "wave/wave_summary.h"

using namespace wav2ima;

namespace {

const Bytes kFour7F = {0x7F, 0x7F, 0x7F, 0x7F};

Bytes fmt_with(std::size_t byte, unsigned char value) {
  Bytes body = fmt16();
  body[byte] = value;
  return body;
}

struct WalkRow {
  const char* name;
  Bytes input;
  int want_result;
  Bytes want_output;
};

void expect_walk(const WalkRow& row) {
  SCOPED_TRACE(row.name);
  reset_encoder_state();
  std::FILE* input = stream_of(row.input);
  std::FILE* output = std::tmpfile();
  EXPECT_EQ(convert_file(output, input), row.want_result);
  EXPECT_EQ(contents(output), row.want_output);
  // The summary walks as the converter does: it counts what a conversion writes.
  WaveSummary summary{};
  EXPECT_EQ(summarise_wave(input, summary), 0);
  if (row.want_result == 0) {
    EXPECT_EQ(summary.frames, row.want_output.size());
  }
  std::fclose(output);
  std::fclose(input);
}

std::vector<WalkRow> preamble_rows() {
  const Bytes body = chunk("fmt ", fmt16()) + chunk("data", loud_frames(4));
  return {
      {"60-byte example", example60(), 0, kFour7F},
      {"lower-case tag", text("riff") + le32(52) + text("WAVE") + body, -1, {}},
      {"big-endian tag", text("RIFX") + le32(52) + text("WAVE") + body, -1, {}},
      {"not WAVE", text("RIFF") + le32(52) + text("AVI ") + body, -1, {}},
      {"empty file", {}, -1, {}},
      {"header cut short", text("RIFF") + Bytes{52, 0, 0}, -1, {}},
      {"form type cut short", text("RIFF") + le32(52) + text("WAV"), -1, {}},
      {"RIFF size 4 reads no chunk", riff(4, body), 0, {}},
      {"RIFF size 0 reads no chunk", riff(0, body), 0, {}},
  };
}

std::vector<WalkRow> chunk_walk_rows() {
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes data = chunk("data", loud_frames(4));
  Bytes fmt14 = fmt16();
  fmt14.resize(14);
  const Bytes fmt12(fmt14.begin(), fmt14.begin() + 12);
  return {
      {"RIFF size past the file end fails after the data", riff(500, fmt + data), -1, kFour7F},
      {"RIFF size smaller than the body stops early", riff(4 + 24 + 24, fmt + data + text("junk")),
       0, kFour7F},
      {"LIST stepped over", riff(fmt + chunk("LIST", Bytes(10, 'x')) + data), 0, kFour7F},
      {"LIST past the end that uses up the count", riff(fmt + data + chunk("LIST", 100, {})), 0,
       kFour7F},
      {"LIST past the end with more to come",
       riff(4 + 24 + 24 + 108 + 8, fmt + data + chunk("LIST", 100, {})), -1, kFour7F},
      {"no format chunk", riff(data), 0, kFour7F},
      {"data before format", riff(data + fmt), 0, kFour7F},
      {"no data chunk", riff(fmt), 0, {}},
      {"two data chunks, one stream",
       riff(fmt + chunk("data", loud_frames(1)) + chunk("data", loud_frames(3))), 0, kFour7F},
      {"14-byte format chunk", riff(chunk("fmt ", fmt14) + data), 0, kFour7F},
      // Read in 64 KiB blocks, the look-back of this chunk's test crosses back
      // over a block boundary.
      {"12-byte format chunk across a block boundary",
       riff(chunk("LIST", Bytes(65494, 'x')) + chunk("fmt ", fmt12) + data), 0, kFour7F},
      {"format chunk cut short", riff(100, chunk("fmt ", Bytes{1, 0, 2, 0})), -1, {}},
      {"data chunk cut short",
       riff(100, fmt + chunk("data", 64, loud_frames(2))),
       -1,
       {0x7F, 0x7F}},
      {"chunk header cut short", riff(100, fmt + data + text("LIS")), -1, kFour7F},
      {"data chunk cut inside its tail, the last chunk counted",
       riff(4 + 24 + 8 + 19, fmt + chunk("data", 19, loud_frames(4) + Bytes{1})), -1, kFour7F},
  };
}

std::vector<WalkRow> failing_format_rows() {
  const Bytes data = chunk("data", loud_frames(4));
  return {
      {"float format", riff(chunk("fmt ", fmt_with(0, 3)) + data), -1, {}},
      {"mono", riff(chunk("fmt ", fmt_with(2, 1)) + data), -1, {}},
      {"48000 Hz", riff(chunk("fmt ", fmt_with(4, 0x80)) + data), -1, {}},
      {"22050 Hz", riff(chunk("fmt ", fmt_with(5, 0x56)) + data), -1, {}},
      {"8-bit byte rate", riff(chunk("fmt ", fmt_with(10, 1)) + data), -1, {}},
      {"after data: frames before stay", riff(data + chunk("fmt ", fmt_with(2, 1))), -1, kFour7F},
  };
}

std::vector<WalkRow> pad_byte_rows() {
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes data = chunk("data", loud_frames(4));
  const Bytes odd_list = chunk("LIST", text("abc"));
  return {
      {"padded odd LIST before data", riff(fmt + odd_list + Bytes{0} + data), 0, kFour7F},
      {"unpadded odd LIST before data", riff(fmt + odd_list + data), 0, kFour7F},
      {"pad byte used up the count", riff(fmt + data + odd_list + Bytes{0}) + text("junk"), 0,
       kFour7F},
      {"odd data chunk, padded, then more data",
       riff(fmt + chunk("data", loud_frames(2) + Bytes{7}) + Bytes{0} +
            chunk("data", loud_frames(2))),
       0, kFour7F},
      {"pad byte expected but file ends", riff(40, fmt + odd_list), -1, {}},
  };
}

std::vector<WalkRow> size_rows() {
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes data = chunk("data", loud_frames(4));
  return {
      {"RIFF size 0x80000004 walks the chunks", riff(0x80000004, fmt + data), -1, kFour7F},
      {"RIFF size 0xFFFFFFF0 walks the chunks", riff(0xFFFFFFF0, fmt + data), -1, kFour7F},
      {"LIST of 0xFFFFFFF8 ends the walk, no loop",
       riff(0xFFFFFFFE, fmt + data + chunk("LIST", 0xFFFFFFF8, {})), 0, kFour7F},
      {"LIST of 0x80000000 seeks forward past the end",
       riff(0xFFFFFFFE, fmt + data + chunk("LIST", 0x80000000, {})), -1, kFour7F},
      {"unknown RIFF size ends at a chunk boundary", riff(kSizeUnknown, fmt + data), 0, kFour7F},
      {"unknown RIFF size, partial header", riff(kSizeUnknown, fmt + data + text("LI")), -1,
       kFour7F},
      {"unknown RIFF size, skipped chunk past the end",
       riff(kSizeUnknown, fmt + data + chunk("LIST", 100, {})), -1, kFour7F},
      {"unknown data size runs to the end, tail dropped",
       riff(kSizeUnknown, fmt + chunk("data", kSizeUnknown, loud_frames(4) + Bytes{1, 2, 3})), 0,
       kFour7F},
      {"unknown data size under a known RIFF size",
       riff(100, fmt + chunk("data", kSizeUnknown, loud_frames(4))), 0, kFour7F},
  };
}

// A 40-byte WAVE_FORMAT_EXTENSIBLE body for 44.1 kHz 16-bit stereo with the
// given subformat GUID, as stored.
Bytes extensible_format(const Bytes& subformat) {
  Bytes body = fmt16();
  body[0] = 0xFE;
  body[1] = 0xFF;
  // Extension size 22, 16 valid bits, front left and right.
  return body + Bytes{22, 0, 16, 0, 3, 0, 0, 0} + subformat;
}

const Bytes kPcmGuid = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Layouts that writers streaming to a pipe make, and their near misses.
std::vector<WalkRow> real_writer_rows() {
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes samples = loud_frames(4) + Bytes{1, 2};
  auto streamed = [&](std::uint32_t riff_size, std::uint32_t data_size) {
    return riff(riff_size, fmt + chunk("data", data_size, samples));
  };
  Bytes float_guid = kPcmGuid;
  float_guid[0] = 0x03;
  const Bytes pcm_extensible = extensible_format(kPcmGuid);
  Bytes tag_fe_00 = pcm_extensible;
  tag_fe_00[1] = 0x00;
  const Bytes data = chunk("data", loud_frames(4));
  return {
      {"lame, opusdec: data 0x7FFFFFFF", streamed(0x80000023, 0x7FFFFFFF), 0, kFour7F},
      {"arecord: data 0x80000000", streamed(0x80000024, 0x80000000), 0, kFour7F},
      {"mplayer, sox from raw: data 0x7FFFF000", streamed(0x7FFFF024, 0x7FFFF000), 0, kFour7F},
      {"gstreamer: data 0x7FFF0000", streamed(0x7FFF0024, 0x7FFF0000), 0, kFour7F},
      {"sox: data 0xFFFFFFFC", streamed(0xFFFFFFFC + 36, 0xFFFFFFFC), 0, kFour7F},
      {"ffmpeg: both sizes unknown, LIST first",
       riff(kSizeUnknown,
            fmt + chunk("LIST", text("INFOISFT")) + chunk("data", kSizeUnknown, samples)),
       0, kFour7F},
      {"data 0xFFFFFFFE cut short", streamed(kSizeUnknown, 0xFFFFFFFE), 0, kFour7F},
      {"data 0x7FFF0000 cut short under a RIFF size counting more: the walk ends",
       streamed(0xFFFFFFF0, 0x7FFF0000), 0, kFour7F},
      {"near miss: data 0x7FFEFFFF cut short fails", streamed(0x7FFF0023, 0x7FFEFFFF), -1, kFour7F},
      {"mpg123, faad: empty data under RIFF 36, samples after",
       riff(36, fmt + chunk("data", {}) + samples), 0, kFour7F},
      {"empty data, then a chunk the RIFF size counts",
       riff(fmt + chunk("data", {}) + chunk("LIST", text("abcd"))) + loud_frames(4),
       0,
       {}},
      {"empty data at the end of the file", riff(fmt + chunk("data", {})), 0, {}},
      {"ogg123, mpv, WAVEX: extensible PCM", riff(chunk("fmt ", pcm_extensible) + data), 0,
       kFour7F},
      {"extensible float fails", riff(chunk("fmt ", extensible_format(float_guid)) + data), -1, {}},
      {"extensible with a 38-byte body fails",
       riff(chunk("fmt ", Bytes(pcm_extensible.begin(), pcm_extensible.begin() + 38)) + data),
       -1,
       {}},
      {"extensible with a 38-byte body, the GUID's last bytes after it",
       riff(chunk("fmt ", Bytes(pcm_extensible.begin(), pcm_extensible.begin() + 38)) +
            chunk(std::string("\x9B\x71") + "ab", {}) + data),
       -1,
       {}},
      {"extensible cut inside the GUID",
       riff(100, chunk("fmt ", 40, Bytes(pcm_extensible.begin(), pcm_extensible.begin() + 30))),
       -1,
       {}},
      {"tag FE 00 is not extensible", riff(chunk("fmt ", tag_fe_00) + data), -1, {}},
  };
}

TEST(ConvertFile, EveryLayout) {
  for (const auto& rows : {preamble_rows(), chunk_walk_rows(), failing_format_rows(),
                           pad_byte_rows(), size_rows(), real_writer_rows()}) {
    for (const WalkRow& row : rows)
      expect_walk(row);
  }
}

// The same bytes from a pipe: the same status, messages (but for the name)
// and output as from the file.
TEST(ConvertFile, ThroughAPipeAsFromAFile) {
  if (kWindows) GTEST_SKIP() << "Windows names no pipe as a file";
  if (skipped_without_pipe_view()) GTEST_SKIP();
  for (const auto& rows :
       {preamble_rows(), chunk_walk_rows(), failing_format_rows(), pad_byte_rows(), size_rows()}) {
    for (const WalkRow& row : rows) {
      SCOPED_TRACE(row.name);
      TempDir dir;
      write_file(dir / "in.wav", row.input);
      const RunResult file = run_program(WAV2IMA_PATH, {"in.wav", "file.ima"}, dir.path);
      const RunResult pipe =
          run_program(WAV2IMA_PATH, {"/dev/stdin", "pipe.ima"}, dir.path, {.stdin_from = "in.wav"});
      EXPECT_EQ(file.status, row.want_result == 0 ? 0 : 1);
      EXPECT_EQ(pipe.status, file.status);
      EXPECT_EQ(pipe.out, "converting /dev/stdin\n");
      EXPECT_EQ(pipe.err, file.err);
      EXPECT_EQ(read_file(dir / "file.ima"), row.want_output);
      EXPECT_EQ(read_file(dir / "pipe.ima"), row.want_output);
    }
  }
}

TEST(ConvertFile, LeavesTheInputAtTheEndOfTheExample) {
  reset_encoder_state();
  std::FILE* input = stream_of(example60());
  std::FILE* output = std::tmpfile();
  ASSERT_EQ(convert_file(output, input), 0);
  EXPECT_EQ(std::ftell(input), 60);
  std::fclose(output);
  std::fclose(input);
}

}  // namespace
