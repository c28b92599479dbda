#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_files.h"

namespace fs = std::filesystem;

namespace {

const Bytes kFour7F = {0x7F, 0x7F, 0x7F, 0x7F};

RunResult wav2ima(const std::vector<std::string>& args, const TempDir& dir) {
  return run_program(WAV2IMA_PATH, args, dir.path);
}

struct DriverRow {
  const char* name;
  std::vector<std::string> args;
  int want_status;
  std::string want_out;
  std::string want_err;
  bool want_output_file;
  Bytes want_output;
  const char* windows_lacks = nullptr;  // why Windows cannot express the row
};

// Every row runs in a directory holding "in.wav" (the 60-byte example),
// "text.txt" (not RIFF), "mono.wav", "nodata.wav" (a format chunk alone), "cut.wav" (cut short
// inside its data), "old.ima" (an existing output with content), the folder "sub", and "lnk", a
// link to "real/inner" beside "real/one.wav" (the example again).
TEST(Driver, MessagesStatusAndOutput) {
  const DriverRow rows[] = {
      {"no arguments", {}, 1, "", "can not open (null)\n", false, {}},
      {"input only", {"in.wav"}, 1, "", "can not open (null)\n", false, {}},
      {"missing input", {"missing.wav", "out.ima"}, 1, "", "can not open missing.wav\n", false, {}},
      {"output in a missing folder",
       {"in.wav", "no/out.ima"},
       1,
       "",
       "can not open no/out.ima\n",
       false,
       {}},
      {"example", {"in.wav", "out.ima"}, 0, "converting in.wav\n", "", true, kFour7F},
      {"further arguments ignored",
       {"in.wav", "out.ima", "x", "-v"},
       0,
       "converting in.wav\n",
       "",
       true,
       kFour7F},
      {"literal wildcard name",
       {"in.wav", "o*?.ima"},
       0,
       "converting in.wav\n",
       "",
       true,
       kFour7F,
       "no * or ? in file names"},
      {"UTF-8 names, long ones too",
       {"録音データ 2024 年 第三回目 の 会議.wav", "音.ima"},
       0,
       "converting 録音データ 2024 年 第三回目 の 会議.wav\n",
       "",
       true,
       kFour7F},
      {"a folder as input creates nothing",
       {"sub", "new.ima"},
       1,
       "",
       "can not open sub\n",
       false,
       {}},
      {"a folder as input leaves the output",
       {"sub", "old.ima"},
       1,
       "",
       "can not open sub\n",
       true,
       Bytes(100, 0x55)},
      {"`..` after a symbolic link: the kernel's parent",
       {"lnk/../one.wav", "out.ima"},
       0,
       "converting lnk/../one.wav\n",
       "",
       true,
       kFour7F,
       "wine makes no symbolic links"},
      {"an output named through a symbolic link and `..`",
       {"in.wav", "lnk/../out.ima"},
       0,
       "converting in.wav\n",
       "",
       true,
       kFour7F,
       "wine makes no symbolic links"},
      {"not RIFF leaves an existing output as it was",
       {"text.txt", "old.ima"},
       1,
       "converting text.txt\n",
       "convert error\n",
       true,
       Bytes(100, 0x55)},
      {"a refused format leaves it too",
       {"mono.wav", "old.ima"},
       1,
       "converting mono.wav\n",
       "convert error\n",
       true,
       Bytes(100, 0x55)},
      {"an accepted header empties it first",
       {"in.wav", "old.ima"},
       0,
       "converting in.wav\n",
       "",
       true,
       kFour7F},
      {"as does a walk that ends without a data chunk",
       {"nodata.wav", "old.ima"},
       0,
       "converting nodata.wav\n",
       "",
       true,
       {}},
      {"a failure inside the walk keeps the frames before",
       {"cut.wav", "out.ima"},
       1,
       "converting cut.wav\n",
       "convert error\n",
       true,
       {0x7F, 0x7F, 0x7F}},
  };
  for (const DriverRow& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.windows_lacks != nullptr && skipped_on_windows(row.windows_lacks)) continue;
    TempDir dir;
    write_file(dir / "in.wav", example60());
    write_file(dir / "録音データ 2024 年 第三回目 の 会議.wav", example60());
    write_file(dir / "text.txt", text("hello, this is not audio\n"));
    write_file(dir / "cut.wav",
               riff(100, chunk("fmt ", fmt16()) + chunk("data", 64, loud_frames(3))));
    write_file(dir / "old.ima", Bytes(100, 0x55));
    Bytes mono = fmt16();
    mono[2] = 1;
    write_file(dir / "mono.wav", riff(chunk("fmt ", mono) + chunk("data", loud_frames(2))));
    write_file(dir / "nodata.wav", riff(chunk("fmt ", fmt16())));
    fs::create_directory(dir / "sub");
    fs::create_directories(dir / "real/inner");
    write_file(dir / "real/one.wav", example60());
    if (!kWindows) fs::create_directory_symlink("real/inner", dir / "lnk");
    const RunResult run = wav2ima(row.args, dir);
    EXPECT_EQ(run.status, row.want_status);
    EXPECT_EQ(run.out, row.want_out);
    EXPECT_EQ(run.err, row.want_err);
    const std::string output = row.args.size() > 1 ? dir / row.args[1] : dir / "out.ima";
    EXPECT_EQ(file_exists(output), row.want_output_file);
    if (row.want_output_file) {
      EXPECT_EQ(read_file(output), row.want_output);
    }
    EXPECT_EQ(read_file(dir / "in.wav"), example60());
  }
}

// Opening the output would truncate the input: the driver refuses first.
TEST(Driver, RefusesToWriteOverItsInput) {
  struct Row {
    const char* name;
    const char* output;
    void (*make)(const TempDir&);
  };
  const auto nothing = [](const TempDir&) {};
  std::vector<Row> rows = {
      {"same name", "in.wav", nothing},
      {"other spelling", "./sub/../in.wav",
       [](const TempDir& d) { fs::create_directory(d / "sub"); }},
      {"hard link", "hard.wav",
       [](const TempDir& d) { fs::create_hard_link(d / "in.wav", d / "hard.wav"); }},
  };
  if (kWindows) {
    // Names that are the same file only where names ignore case and take
    // the backslash as a separator.
    rows.push_back({"other case", "IN.WAV", nothing});
    rows.push_back({"backslash spelling", ".\\in.wav", nothing});
  }
  if (!skipped_on_windows("wine makes no symbolic links")) {
    rows.push_back({"symbolic link", "soft.wav",
                    [](const TempDir& d) { fs::create_symlink("in.wav", d / "soft.wav"); }});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "in.wav", example60());
    row.make(dir);
    const RunResult run = wav2ima({"in.wav", row.output}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("can not open ") + row.output + "\n");
    EXPECT_EQ(read_file(dir / "in.wav"), example60());
  }
}

// A full disk shows up either at a byte write (large output) or only when
// the buffered bytes are flushed at the end (small output): both are failures.
TEST(Driver, FullDiskIsAnError) {
  const std::string full = full_device();
  if (full.empty()) GTEST_SKIP() << "Windows has no device that is always full";
  const Bytes large = riff(chunk("fmt ", fmt16()) + chunk("data", Bytes(1 << 20, 0)));
  for (const Bytes& input : {example60(), large}) {
    TempDir dir;
    write_file(dir / "in.wav", input);
    const RunResult run = wav2ima({"in.wav", full}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "converting in.wav\n");
    EXPECT_EQ(run.err, "convert error\n");
  }
}

// The bundled example is the generator's own output. (Its conversions are
// pinned by digest: bundled_example_digests.)
TEST(Driver, BundledExample) {
  TempDir dir;
  ASSERT_EQ(run_program(WAVGEN_PATH, {"sweep", "176400", "sweep.wav"}, dir.path).status, 0);
  EXPECT_EQ(read_file(dir / "sweep.wav"), read_file(EXAMPLES_DIR "/sweep.wav"));
}

// After every kind of failure the input is untouched and the output holds
// exactly the frames converted before it: a prefix of the full conversion.
TEST(Driver, FailuresNeverCostData) {
  const int kFrames = 5000;
  const Bytes fmt = chunk("fmt ", fmt16());
  const Bytes good = riff(fmt + chunk("data", noise_frames(kFrames)));
  Bytes mono = fmt16();
  mono[2] = 1;
  Bytes not_riff = good;
  not_riff[3] = 'X';

  TempDir reference_dir;
  write_file(reference_dir / "in.wav", good);
  ASSERT_EQ(run_program(WAV2IMA_PATH, {"in.wav", "out.ima"}, reference_dir.path).status, 0);
  const Bytes reference = read_file(reference_dir / "out.ima");
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(kFrames));

  struct Row {
    const char* name;
    Bytes input;
    long file_size_limit;
    std::size_t want_frames;
  };
  const Row rows[] = {
      {"not a RIFF file", not_riff, -1, 0},
      {"short preamble", Bytes(good.begin(), good.begin() + 10), -1, 0},
      {"failed format test after the data",
       riff(chunk("data", noise_frames(kFrames)) + chunk("fmt ", mono)), -1, kFrames},
      {"header cut short",
       riff(static_cast<std::uint32_t>(good.size() + 100),
            fmt + chunk("data", noise_frames(kFrames)) + text("LIS")),
       -1, kFrames},
      {"data cut short", Bytes(good.begin(), good.begin() + 44 + 4 * 1234 + 2), -1, 1234},
      {"data cut short, just below the placeholder sizes",
       riff(0x7FFF0023, fmt + chunk("data", 0x7FFEFFFF, noise_frames(kFrames))), -1, kFrames},
      {"full disk", good, 1000, 1000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.file_size_limit >= 0 && skipped_on_windows("no file-size limit per process")) continue;
    TempDir dir;
    write_file(dir / "in.wav", row.input);
    const RunResult run = run_program(WAV2IMA_PATH, {"in.wav", "out.ima"}, dir.path,
                                      {.file_size_limit = row.file_size_limit});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "convert error\n");
    EXPECT_EQ(read_file(dir / "in.wav"), row.input);
    EXPECT_EQ(read_file(dir / "out.ima"),
              Bytes(reference.begin(), reference.begin() + static_cast<long>(row.want_frames)));
  }
}

}  // namespace
