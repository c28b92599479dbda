// Helpers for files, streams and running the programs under test, the same
// on POSIX and Windows.
#ifndef WAV2IMA_TESTS_TEST_FILES_H
#define WAV2IMA_TESTS_TEST_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/wav_builder.h"

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// A temporary file holding `bytes`, positioned at offset 0.
std::FILE* stream_of(const Bytes& bytes);
// Everything in the stream, from offset 0; the stream's position is lost.
Bytes contents(std::FILE* stream);

// A pipe as two streams: an output that cannot seek, read back afterwards.
struct Pipe {
  std::FILE* reader;
  std::FILE* writer;
};
Pipe open_pipe();

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
// True when the name exists, also as a link to nothing.
bool file_exists(const std::string& path);
// A file of `size` bytes, all zero but the pieces given: a sparse file where
// the file system has them, so that files of several GiB cost little disk.
struct Piece {
  std::uint64_t offset;
  Bytes bytes;
};
void write_sparse(const std::string& path, std::uint64_t size, const std::vector<Piece>& pieces);

// A device whose every write fails as on a full disk: /dev/full, or its host
// path under wine; empty on Windows itself, which has none.
std::string full_device();

// A row of a table that this platform cannot express: on Windows, says why
// it is skipped and returns true; elsewhere false.
bool skipped_on_windows(const char* why);
// The same for programs built for WASI (run by node from a native build).
bool skipped_under_wasi(const char* why);

// A fresh directory under the system's temporary directory, removed with it.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

struct RunResult {
  int status;       // 128 + the signal's number when a signal ended the program, as in sh
  std::string out;  // text-mode line ends read back as "\n"
  std::string err;
};

// What a standard stream of the program is connected to, besides a file.
enum class Channel {
  kFile,
  kPipe,
  kSocket,             // one end of a socket pair, as node's child processes get
  kOneSocket,          // standard input only: one socket as both input and output (inetd)
  kPipeWithoutReader,  // its reader has gone before the program starts
  // Standard input only, after the file's bytes: a connection reset
  // (ECONNRESET), or a non-blocking pipe with nothing more to read until the
  // program has ended (EAGAIN).
  kSocketThatResets,
  kNonBlockingPipeThatPauses
};

// POSIX only: Windows has no file-size limit per process and names no pipe
// as a file.
struct RunOptions {
  // 0 or more: every write past that many bytes of a file fails, as on a full disk.
  long file_size_limit = -1;
  // When set, standard input is a pipe or socket fed with this file's bytes
  // (relative to the working directory) by another process.
  std::string stdin_from = {};
  Channel stdin_channel = Channel::kPipe;
  // A pipe or socket is copied to the captured file by another process.
  Channel stdout_channel = Channel::kFile;
};

// The words that start `program`: under an emulator (a cross build run by
// qemu-user) the emulator's words come first.
std::vector<std::string> program_words(const std::string& program);
// The same as a piece of a shell command, each word quoted.
std::string shell_words(const std::string& program);

// Skips a row or test that needs pipes read as files where the C library
// cannot make that view: says why and returns true.
bool skipped_without_pipe_view();

// Runs `program` with `args` in directory `cwd`, capturing both output streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const RunOptions& options = {});

// Runs a POSIX shell command line in which $W, $I and $G stand for wav2ima,
// ima2wav and wavgen.
RunResult run_shell(std::string command, const std::string& cwd, const RunOptions& options = {});

#endif  // WAV2IMA_TESTS_TEST_FILES_H
