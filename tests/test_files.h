// Helpers for files, streams and running the programs under test.
#ifndef WAV2IMA_TESTS_TEST_FILES_H
#define WAV2IMA_TESTS_TEST_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/wav_builder.h"

// A temporary file holding `bytes`, positioned at offset 0.
std::FILE* stream_of(const Bytes& bytes);
// Everything in the stream, from offset 0; the stream's position is lost.
Bytes contents(std::FILE* stream);

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);

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
  int status;
  std::string out;
  std::string err;
};

struct RunOptions {
  // 0 or more: every write past that many bytes of a file fails, as on a full disk.
  long file_size_limit = -1;
  // When set, standard input is a pipe fed with this file's bytes (relative
  // to the working directory) by another process.
  std::string stdin_from = {};
  // Standard output captured through a pipe instead of a regular file.
  bool stdout_pipe = false;
};

// Runs `program` with `args` in directory `cwd`, capturing both output streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const RunOptions& options = {});

#endif  // WAV2IMA_TESTS_TEST_FILES_H
