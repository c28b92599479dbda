// Files beyond 2 and 4 GiB, on sparse files: holes read as silence, so only
// the headers and the loud frames at the end take disk space. The outputs are
// real files of up to 1 GiB.
#include <cstdint>
#include <string>
#include <vector>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/stream_io.h"
#include "tests/test_files.h"

using namespace wav2ima;

namespace {

constexpr std::uint64_t kGiB = 1ULL << 30;
constexpr std::uint64_t kFmtEnd = 12 + 24;  // preamble, then the 16-byte format chunk

Bytes header(const std::string& id, std::uint32_t size) {
  return chunk(id, size, {});
}

Bytes preamble(std::uint32_t riff_size) {
  return riff(riff_size, chunk("fmt ", fmt16()));
}

struct LargeRow {
  const char* name;
  std::uint64_t file_size;
  std::vector<Piece> pieces;
  int want_status;
  std::uint64_t want_output_size;
};

// Every row's last data frames are four loud frames after silence, so a
// correct walk ends its output with 7F 7F 7F 7F.
std::vector<LargeRow> rows() {
  const Bytes loud = loud_frames(4);
  const std::uint64_t data_body = kFmtEnd + 8;
  std::vector<LargeRow> r;

  // Data chunks of the three sizes.
  r.push_back({"data chunk of 0x80000000 bytes",
               data_body + 0x80000000,
               {{0, preamble(0x80000024) + header("data", 0x80000000)},
                {data_body + 0x80000000 - 16, loud}},
               0,
               0x80000000 / 4});
  r.push_back({"data chunk of 0xFFFFFFF8 bytes ends beyond 4 GiB",
               data_body + 0xFFFFFFF8,
               {{0, preamble(0xFFFFFFFE) + header("data", 0xFFFFFFF8)},
                {data_body + 0xFFFFFFF8 - 16, loud}},
               0,
               0xFFFFFFF8 / 4});
  r.push_back({"data chunk of unknown size runs past 4 GiB to the end",
               data_body + 4 * kGiB + 18,
               {{0, preamble(0xFFFFFFFF) + header("data", 0xFFFFFFFF)},
                {data_body + 4 * kGiB, loud + Bytes{1, 2}}},
               0,
               kGiB + 4});
  // Placeholder sizes from writers streaming to a pipe.
  r.push_back({"data chunk of 0xFFFFFFF0 bytes cut short ends normally",
               64 << 20,
               {{0, preamble(0xFFFFFFFE) + header("data", 0xFFFFFFF0)}, {(64 << 20) - 16, loud}},
               0,
               ((64 << 20) - data_body) / 4});
  r.push_back({"data chunk of 0x7FFEFFFF bytes cut short fails",
               64 << 20,
               {{0, preamble(0xFFFFFFFE) + header("data", 0x7FFEFFFF)}, {(64 << 20) - 16, loud}},
               1,
               ((64 << 20) - data_body) / 4});
  r.push_back({"data chunk of 0x7FFF0000 bytes read whole, then more chunks",
               data_body + 0x7FFF0000 + 24,
               {{0, preamble(4 + 24 + 8 + 0x7FFF0000 + 24) + header("data", 0x7FFF0000)},
                {data_body + 0x7FFF0000, chunk("data", loud)}},
               0,
               0x7FFF0000 / 4 + 4});
  r.push_back({"empty data chunk under RIFF size 36 runs past 4 GiB",
               data_body + 4 * kGiB + 16,
               {{0, preamble(36) + header("data", 0)}, {data_body + 4 * kGiB, loud}},
               0,
               kGiB + 4});

  // RIFF sizes of the three kinds, with the data chunk last in the file.
  for (const std::uint32_t riff_size : {0x80000000U, 0xFFFFFFF8U}) {
    const std::uint64_t file_end = 8 + std::uint64_t{riff_size};
    const std::uint64_t data_at = file_end - 8 - loud.size();
    r.push_back({riff_size == 0x80000000U ? "RIFF size 0x80000000" : "RIFF size 0xFFFFFFF8",
                 file_end,
                 {{0, preamble(riff_size) +
                          header("LIST", static_cast<std::uint32_t>(data_at - kFmtEnd - 8))},
                  {data_at, chunk("data", loud)}},
                 0,
                 4});
  }
  r.push_back({"RIFF size unknown, file ends after the last chunk",
               kFmtEnd + 8 + 0xF0000000 + 24,
               {{0, preamble(0xFFFFFFFF) + header("LIST", 0xF0000000)},
                {kFmtEnd + 8 + 0xF0000000, chunk("data", loud)}},
               0,
               4});

  // Skipped chunks of the three sizes.
  r.push_back({"skipped chunk of 0x80000000 bytes",
               kFmtEnd + 8 + 0x80000000 + 24,
               {{0, preamble(4 + 24 + 8 + 0x80000000 + 24) + header("LIST", 0x80000000)},
                {kFmtEnd + 8 + 0x80000000, chunk("data", loud)}},
               0,
               4});
  for (const std::uint32_t list_size : {0xFFFFFFF8U, 0xFFFFFFFFU}) {
    r.push_back({list_size == 0xFFFFFFF8U ? "skipped chunk of 0xFFFFFFF8 bytes ends the walk"
                                          : "skipped chunk of 0xFFFFFFFF bytes ends the walk",
                 kFmtEnd + 24 + 8 + list_size,
                 {{0, preamble(0xFFFFFFFE) + chunk("data", loud) + header("LIST", list_size)}},
                 0,
                 4});
  }
  // The header and the final seek of this data chunk lie beyond 4 GiB.
  const std::uint64_t beyond = kFmtEnd + 8 + 0xFFFFFF00;
  r.push_back({"data chunk beyond 4 GiB",
               beyond + 8 + 210,
               {{0, preamble(0xFFFFFFFE) + header("LIST", 0xFFFFFF00)},
                {beyond, header("data", 210)},
                {beyond + 8 + 210 - 18, loud + Bytes{9, 9}}},
               0,
               52});
  return r;
}

Bytes last_bytes(const std::string& path, std::size_t count) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr || seek_stream(f, -static_cast<std::int64_t>(count), SEEK_END) != 0) return {};
  Bytes out(count);
  out.resize(std::fread(out.data(), 1, count, f));
  std::fclose(f);
  return out;
}

// Each row from the file and again through a pipe: the same status, output
// size and last bytes.
TEST(LargeFiles, SizesBeyond2And4GiB) {
  for (const LargeRow& row : rows()) {
    TempDir dir;
    write_sparse(dir / "in.wav", row.file_size, row.pieces);
    for (const bool pipe : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (pipe ? ", through a pipe" : ""));
      if (pipe &&
          (skipped_on_windows("no pipe is named as a file") || skipped_without_pipe_view())) {
        continue;
      }
      RunOptions options;
      options.stdin_from = pipe ? "in.wav" : "";
      const std::string input = pipe ? "/dev/stdin" : "in.wav";
      const RunResult run = run_program(WAV2IMA_PATH, {input, "out.ima"}, dir.path, options);
      EXPECT_EQ(run.status, row.want_status);
      EXPECT_EQ(run.out, "converting " + input + "\n");
      EXPECT_EQ(run.err, row.want_status == 0 ? "" : "convert error\n");
      EXPECT_EQ(std::filesystem::file_size(dir / "out.ima"), row.want_output_size);
      EXPECT_EQ(last_bytes(dir / "out.ima", 4), (Bytes{0x7F, 0x7F, 0x7F, 0x7F}));
    }
  }
}

}  // namespace
