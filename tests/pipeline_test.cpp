// Both commands in pipelines: standard input and output by their names,
// pipes on either side, and the shapes of command line the README shows.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_files.h"
#include "wave/canonical_header.h"
#include "wave/ima_to_wave.h"

using namespace wav2ima;

namespace {

const Bytes kFour7F = {0x7F, 0x7F, 0x7F, 0x7F};

Bytes wav_header(std::uint32_t riff_size, std::uint32_t data_size) {
  return text("RIFF") + le32(riff_size) + text("WAVE") + chunk("fmt ", fmt16()) +
         chunk("data", data_size, {});
}

class Pipelines : public testing::Test {
 protected:
  void SetUp() override {
    if (kWindows) GTEST_SKIP() << "Windows names no standard stream or pipe as a file";
    if (skipped_without_pipe_view()) GTEST_SKIP();
  }
};

// The samples ima2wav writes for `stream`, without their header.
Bytes decoded_samples(const Bytes& stream) {
  std::FILE* input = stream_of(stream);
  std::FILE* output = std::tmpfile();
  EXPECT_EQ(convert_ima_file(output, input, -1, false), 0);
  const Bytes wav = contents(output);
  std::fclose(output);
  std::fclose(input);
  return Bytes(wav.begin() + kCanonicalHeaderSize, wav.end());
}

// What ima2wav makes of the four bytes 7F: left code 7, right code 15.
const Bytes kDecoded7F = frames({{13, -13}, {43, -43}, {106, -106}, {242, -242}});

// Both programs on pipes and on /dev/stdout: the stream holds only its own
// bytes (the announcement moves to standard error), and ima2wav's header
// gives the real sizes whenever either side can know them.
TEST_F(Pipelines, StandardStreams) {
  const Bytes decoded = wav_header(52, 16) + kDecoded7F;
  struct Row {
    const char* name;
    const char* program;
    const char* input;
    bool pipe_in;
    const char* output;
    bool pipe_out;
    Bytes want;
  };
  const Row rows[] = {
      {"wav2ima to stdout, a file", WAV2IMA_PATH, "in.wav", false, "/dev/stdout", false, kFour7F},
      {"wav2ima to stdout, a pipe", WAV2IMA_PATH, "in.wav", false, "/dev/stdout", true, kFour7F},
      {"ima2wav to stdout, a file", IMA2WAV_PATH, "in.ima", false, "/dev/stdout", false, decoded},
      {"ima2wav to a pipe: the input's length", IMA2WAV_PATH, "in.ima", false, "/dev/stdout", true,
       decoded},
      {"ima2wav from a pipe: rewritten at the end", IMA2WAV_PATH, "in.ima", true, "out", false,
       decoded},
      {"ima2wav pipe to pipe: length unknown", IMA2WAV_PATH, "in.ima", true, "/dev/stdout", true,
       wav_header(0xFFFFFFFF, 0xFFFFFFFF) + kDecoded7F},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "in.wav", example60());
    write_file(dir / "in.ima", kFour7F);
    RunOptions options;
    options.stdin_from = row.pipe_in ? row.input : "";
    options.stdout_channel = row.pipe_out ? Channel::kPipe : Channel::kFile;
    const std::string input = row.pipe_in ? "/dev/stdin" : row.input;
    const RunResult run = run_program(row.program, {input, row.output}, dir.path, options);
    EXPECT_EQ(run.status, 0);
    const bool to_stdout = std::string(row.output) == "/dev/stdout";
    EXPECT_EQ(to_stdout ? run.err : run.out, "converting " + input + "\n");
    EXPECT_EQ(to_stdout ? Bytes(run.out.begin(), run.out.end()) : read_file(dir / row.output),
              row.want);
  }
}

// The shell's idioms around the descriptors the programs are given: each
// name of a descriptor is that descriptor, at its own position and in its own
// mode, and no message ever lands in the output's file.
TEST_F(Pipelines, ShellIdiomsKeepWhatIsThere) {
  const Bytes head = text("HEAD");
  const Bytes tail = text("TAIL");
  const Bytes decoded = wav_header(52, 16) + kDecoded7F;
  const Bytes unknown_header = wav_header(0xFFFFFFFF, 0xFFFFFFFF);
  const Bytes unknown = unknown_header + kDecoded7F;
  const std::string said = "converting in.wav\n";
  const RunOptions sockets{.stdin_from = "in.wav",
                           .stdin_channel = Channel::kSocket,
                           .stdout_channel = Channel::kSocket};
  const RunOptions gone{.stdout_channel = Channel::kPipeWithoutReader};
  const RunOptions one_socket{.stdin_from = "in.wav", .stdin_channel = Channel::kOneSocket};
  const RunOptions size_limit{.file_size_limit = 1000};
  // A streaming writer's header (RIFF size 36, data size 0), then no more
  // input: a connection reset, or a pause on a non-blocking pipe.
  const RunOptions reset{.stdin_from = "streaming.wav",
                         .stdin_channel = Channel::kSocketThatResets};
  const RunOptions paused{.stdin_from = "streaming.wav",
                          .stdin_channel = Channel::kNonBlockingPipeThatPauses};
  const RunOptions paused_mid_file{.stdin_from = "cut.wav",
                                   .stdin_channel = Channel::kNonBlockingPipeThatPauses};
  const RunOptions pipes{.stdin_from = "in.wav", .stdout_channel = Channel::kPipe};
  const Bytes long_stream(300, 0x7F);
  const Bytes long_samples = decoded_samples(long_stream);
  const Bytes held = Bytes(long_samples.begin(), long_samples.begin() + 956);
  const Bytes ostype = text("Linux\n");
  // sysfs says 4096 bytes for every attribute.
  const std::string sysfs = "/sys/kernel/mm/transparent_hugepage/enabled";
  const Bytes sysfs_bytes = file_exists(sysfs) ? read_file(sysfs) : Bytes{};
  const std::string skip4 = "dd bs=4 count=1 of=/dev/null 2>/dev/null; ";
  struct Row {
    const char* name;
    std::string command;
    int want_status;
    std::string want_err;
    const char* result;  // the file the row's output lands in; "" for standard output
    Bytes want;
    std::string want_out = "";  // when the output is a file
    const RunOptions* options = nullptr;
    const char* not_under_node = nullptr;  // why node cannot run the row, if it cannot
  };
  const char* const ignores_sigpipe = "node ignores SIGPIPE: the write fails instead";
  // Killed once its first samples reached the file, while it waits for more.
  const std::string killed_mid_run =
      "mkfifo p; $I p o.wav & exec 3> p; head -c 300000 /dev/zero >&3; "
      "until [ \"$(wc -c < o.wav)\" -ge 65536 ]; do sleep 0.1; done; "
      "kill -9 $!; { wait $!; } 2>/dev/null; head -c 44 o.wav > h";
  const std::string pipe_said = "converting /dev/stdin\n";
  const Row rows[] = {
      {"append", "printf HEAD > f; $W in.wav /dev/stdout >> f", 0, said, "f", head + kFour7F},
      {"group", "{ $W in.wav /dev/stdout; $W in.wav /proc/self/fd/1; } > f", 0, said + said, "f",
       kFour7F + kFour7F},
      {"text around", "{ printf HEAD; $W in.wav /dev/stdout; printf TAIL; } > f", 0, said, "f",
       head + kFour7F + tail},
      {"/dev/fd/N", "printf HEAD > f; $W in.wav /dev/fd/3 3>> f", 0, "", "f", head + kFour7F, said},
      {"2>&1", "$W in.wav /dev/stdout > f 2>&1", 0, "", "f", kFour7F},
      {"2>&1, failing", "$W text.txt /dev/stdout > f 2>&1", 1, "", "f", {}},
      {"same file by >>", "$W c.wav /dev/stdout >> c.wav", 1, "can not open /dev/stdout\n", "c.wav",
       example60()},
      {"same file by <", "$W /dev/stdin c.wav < c.wav", 1, "can not open c.wav\n", "c.wav",
       example60()},
      {"input part-read", "{ " + skip4 + "$W /dev/stdin f; } < head.wav", 0, "", "f", kFour7F,
       pipe_said},
      {"ima2wav after text", "{ printf HEAD; $I in.ima /dev/stdout; } > f", 0,
       "converting in.ima\n", "f", head + decoded},
      {"ima2wav from a pipe between texts",
       "{ printf HEAD; cat in.ima | $I /dev/stdin /dev/stdout; printf TAIL; } > f", 0, pipe_said,
       "f", head + decoded + tail},
      {"ima2wav from a pipe, appending",
       "printf HEAD > f; cat in.ima | $I /dev/stdin /dev/stdout >> f", 0, pipe_said, "f",
       head + unknown},
      {"ima2wav input part-read, to a pipe",
       "{ " + skip4 + "$I /dev/stdin /dev/stdout; } < head.ima | cat > f", 0, pipe_said, "f",
       decoded},
      {"sockets", "exec $W /dev/stdin /dev/stdout", 0, pipe_said, "", kFour7F, "", &sockets},
      {"announcement to a full device", "$W in.wav f > /dev/full", 0, "", "f", kFour7F},
      {"announcement to a closed stdout", "$W in.wav f >&-", 0, "", "f", kFour7F},
      {"announcement to a pipe without reader", "exec $W in.wav f", 0, "", "f", kFour7F, "", &gone},
      {"output to a pipe without reader: SIGPIPE",
       "exec $W in.wav /dev/stdout",
       128 + 13,
       said,
       "",
       {},
       "",
       &gone,
       ignores_sigpipe},
      {"closed stdout, input a descriptor", "$W /dev/fd/3 o.ima 3<>in.wav >&-", 0, "", "in.wav",
       example60()},
      {"ima2wav, closed stdout, input read-write", "$I /dev/stdin o.wav <>in.ima >&-", 0, "",
       "in.ima", kFour7F},
      {"no failure into a descriptor's file", "printf HEAD > f; $W no.wav /dev/stdout >> f 2>&1", 1,
       "", "f", head},
      {"announcement not into the input", "$W in.wav o.ima >> in.wav", 0, said, "in.wav",
       example60()},
      {"ima2wav: announcement not into the input", "$I in.ima o.wav >> in.ima", 0,
       "converting in.ima\n", "in.ima", kFour7F},
      {"one socket both ways", "exec $W /dev/stdin /dev/stdout", 0, pipe_said, "", kFour7F, "",
       &one_socket},
      {"a device both ways", "$W /dev/null /dev/null", 1, "convert error\n", "",
       text("converting /dev/null\n")},
      {"a terminal shows messages",
       "script -qec \"$W in.wav /dev/stdout\" /dev/null < /dev/null > t", 0, "", "t",
       text("converting in.wav\r\n") + kFour7F},
      {"ima2wav past a size limit, killed: length unknown",
       "exec 2>/dev/null; ulimit -f 1; $I long.ima o.wav; s=$?; head -c 44 o.wav > h; exit $s",
       128 + 25, "", "h", unknown_header, "converting long.ima\n", nullptr,
       "node ignores SIGXFSZ: the write fails, as in the next row"},
      {"ima2wav killed mid-run: length unknown", killed_mid_run, 0, "", "h", unknown_header,
       "converting p\n"},
      {"ima2wav past a size limit: the frames held", "$I long.ima o.wav", 1, "convert error\n",
       "o.wav", wav_header(36 + 956, 956) + held, "converting long.ima\n", &size_limit},
      {"a length of 0 that holds bytes", "$I /proc/sys/kernel/ostype /dev/stdout | cat > f", 0,
       "converting /proc/sys/kernel/ostype\n", "f", unknown_header + decoded_samples(ostype)},
      {"a length of 4096 that holds fewer bytes", "$I " + sysfs + " /dev/stdout | cat > f", 0,
       "converting " + sysfs + "\n", "f", unknown_header + decoded_samples(sysfs_bytes)},
      {"an empty input to a pipe", ": > e.ima; $I e.ima /dev/stdout | cat > f", 0,
       "converting e.ima\n", "f", wav_header(36, 0)},
      {"a descriptor not given", "$W in.wav /dev/fd/7", 1, "can not open /dev/fd/7\n", "", {}},
      {"a descriptor closed when the program started, stdin a socket",
       "exec 3>&-; exec $W /dev/stdin /dev/fd/3",
       1,
       "can not open /dev/fd/3\n",
       "",
       {},
       "",
       &one_socket},
      {"a closed standard output is no descriptor given",
       "$W in.wav /dev/stdout >&-",
       1,
       "can not open /dev/stdout\n",
       "",
       {},
       "",
       nullptr,
       "node opens the null device on a closed standard descriptor before the runner starts"},
      {"a closed standard input is no descriptor given",
       "$W /dev/stdin o.ima <&-",
       1,
       "can not open /dev/stdin\n",
       "",
       {},
       "",
       nullptr,
       "node opens the null device on a closed standard descriptor before the runner starts"},
      {"a reset after a streaming header",
       "$W /dev/stdin o.ima",
       1,
       "convert error\n",
       "o.ima",
       {},
       pipe_said,
       &reset},
      {"a pause on a non-blocking pipe after a streaming header",
       "$W /dev/stdin o.ima",
       1,
       "convert error\n",
       "o.ima",
       {},
       pipe_said,
       &paused},
      {"a pause on a non-blocking pipe: the frames before it kept", "$W /dev/stdin o.ima", 1,
       "convert error\n", "o.ima", kFour7F, pipe_said, &paused_mid_file},
      {"four descriptors at most: names cost none", "ulimit -n 4; exec $W /dev/stdin /dev/stdout",
       0, pipe_said, "", kFour7F, "", &pipes, "node needs more than four descriptors"},
      {"control characters in a name: raw into a file",
       "n=$(printf 'a\\033]0;t\\007.wav'); $W \"$n\" o.ima 2> e", 1, "", "e",
       text("can not open a\033]0;t\007.wav\n")},
      {"control characters in a name: '?' on a terminal",
       "n=$(printf 'a\\033]0;t\\007.wav'); export n; "
       "script -qec \"$W \\\"\\$n\\\" o.ima\" /dev/null < /dev/null > t",
       1, "", "t", text("can not open a?]0;t?.wav\r\n")},
      {"a deleted working directory: relative names",
       "mkdir d && cd d && rmdir ../d && $W in.wav o.ima",
       1,
       "can not open in.wav\n",
       "",
       {}},
      {"a deleted working directory: absolute names",
       "t=$PWD; mkdir d && cd d && rmdir \"$t/d\" && $W \"$t/in.wav\" \"$t/o.ima\" > /dev/null", 0,
       "", "o.ima", kFour7F},
      {"a leading zero names no descriptor",
       "$W in.wav /dev/fd/01",
       1,
       "can not open /dev/fd/01\n",
       "",
       {}},
      {"too large to be a descriptor",
       "$W in.wav /dev/fd/4294967297",
       1,
       "can not open /dev/fd/4294967297\n",
       "",
       {}},
      {"64 KiB of stack", "ulimit -s 64; cat in.wav | $W /dev/stdin /dev/stdout | $I /dev/stdin f",
       0, pipe_said, "f", decoded, pipe_said, nullptr, "node needs more than 64 KiB of stack"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.not_under_node != nullptr && skipped_under_wasi(row.not_under_node)) continue;
    if (row.command.find(sysfs) != std::string::npos && sysfs_bytes.empty()) {
      std::printf("skipped: this system has no %s\n", sysfs.c_str());
      continue;
    }
    TempDir dir;
    write_file(dir / "in.wav", example60());
    write_file(dir / "c.wav", example60());
    write_file(dir / "head.wav", head + example60());
    write_file(dir / "in.ima", kFour7F);
    write_file(dir / "head.ima", head + kFour7F);
    write_file(dir / "text.txt", text("not audio\n"));
    write_file(dir / "long.ima", long_stream);
    write_file(dir / "streaming.wav", wav_header(36, 0));
    write_file(dir / "cut.wav", wav_header(36 + 32, 32) + loud_frames(4));
    // The programs by name, as a user types them.
    const RunResult run =
        run_shell(row.command, dir.path, row.options != nullptr ? *row.options : RunOptions{});
    EXPECT_EQ(run.status, row.want_status);
    const bool to_stdout = *row.result == '\0';
    EXPECT_EQ(to_stdout ? Bytes(run.out.begin(), run.out.end()) : read_file(dir / row.result),
              row.want);
    if (!to_stdout) {
      EXPECT_EQ(run.out, row.want_out);
    }
    EXPECT_EQ(run.err, row.want_err);
  }
}

// The README's command lines, with the project's own tools in place of the
// programs around them: wavgen for the decoder that writes WAV to a pipe,
// cat for the player.
TEST_F(Pipelines, TheReadmeShapes) {
  TempDir dir;
  ASSERT_EQ(run_program(WAVGEN_PATH, {"sweep", "100000", "song.wav"}, dir.path).status, 0);
  ASSERT_EQ(run_program(WAV2IMA_PATH, {"song.wav", "song.ima"}, dir.path).status, 0);
  ASSERT_EQ(run_program(IMA2WAV_PATH, {"song.ima", "decoded.wav"}, dir.path).status, 0);
  ASSERT_EQ(run_program(WAV2IMA_PATH, {"decoded.wav", "again.ima"}, dir.path).status, 0);
  const Bytes song = read_file(dir / "song.ima");
  const Bytes decoded = read_file(dir / "decoded.wav");
  const Bytes played = wav_header(0xFFFFFFFF, 0xFFFFFFFF) +
                       Bytes(decoded.begin() + kCanonicalHeaderSize, decoded.end());

  struct Row {
    const char* name;
    std::string command;
    const char* result;
    Bytes want;
  };
  const Row rows[] = {
      {"a decoder's WAV on a pipe", "$G sweep 100000 /dev/stdout | $W /dev/stdin a.ima", "a.ima",
       song},
      {"a converter's WAV on a pipe", "$I song.ima /dev/stdout | $W /dev/stdin b.ima", "b.ima",
       read_file(dir / "again.ima")},
      {"to a player", "$W song.wav /dev/stdout | $I /dev/stdin /dev/stdout | cat > c.wav", "c.wav",
       played},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const RunResult run = run_shell(row.command, dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / row.result), row.want);
  }
}

// Short of memory, every failure says its message, and an existing output
// is emptied only once the run has what it needs: at each limit, under the
// memory the program needs as well as above it, a run either converts or
// fails with its words and the output as it was. (Sanitizers reserve more
// address space than any such limit, and an emulator's own memory counts.)
TEST_F(Pipelines, ShortOfMemoryEveryFailureSaysItsWords) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limits tried";
#endif
  if (!std::string(WAV2IMA_EMULATOR).empty()) GTEST_SKIP() << "an emulator's memory counts too";
  TempDir dir;
  write_file(dir / "in.wav", example60());
  const Bytes old_output(100, 0x55);
  int converted = 0;
  for (int kib = 1000; kib <= 12000; kib += 50) {
    SCOPED_TRACE(kib);
    write_file(dir / "o.ima", old_output);
    const std::string limit = "ulimit -v " + std::to_string(kib) + "; ";
    const RunResult missing = run_shell(limit + "exec $W missing.wav o.ima", dir.path);
    const RunResult missing_stream = run_shell(limit + "exec $I missing.ima o.wav", dir.path);
    const RunResult piped =
        run_shell(limit + "exec $W /dev/stdin o.ima", dir.path, {.stdin_from = "in.wav"});
    // 127: the program could not even start (its loader got no memory).
    // A missing file is missing, however short of memory the program is.
    if (missing.status != 127) {
      EXPECT_EQ(missing.status, 1);
      EXPECT_EQ(missing.err, "can not open missing.wav\n");
    }
    if (missing_stream.status != 127) {
      EXPECT_EQ(missing_stream.status, 1);
      EXPECT_EQ(missing_stream.err, "can not open missing.ima\n");
    }
    if (piped.status == 0) {
      ++converted;
      EXPECT_EQ(read_file(dir / "o.ima"), kFour7F);
    } else if (piped.status == 1) {
      EXPECT_EQ(piped.err, "convert error\n");
      EXPECT_EQ(read_file(dir / "o.ima"), old_output);
    }
  }
  EXPECT_GT(converted, 0) << "no limit let the program convert: the sweep misses its range";
}

// The announcement is out before the input is read: a converter waiting for
// its input has already said what it converts. The input's writer here waits
// for that line before it writes anything; without it, both would wait for
// ever and `timeout` ends them.
TEST_F(Pipelines, AnnouncementIsFlushedAtOnce) {
  TempDir dir;
  write_file(dir / "in.wav", example60());
  const std::string command =
      "mkfifo said && { read -r line < said; echo \"$line\" > seen; cat in.wav; } | timeout 20 $W "
      "/dev/stdin out.ima > said";
  const RunResult run = run_shell(command, dir.path);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(dir / "seen"), text("converting /dev/stdin\n"));
  EXPECT_EQ(read_file(dir / "out.ima"), kFour7F);
}

}  // namespace
