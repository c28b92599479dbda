#include "platform/pipe_view.h"
#include "platform/stream_io.h"

#include <cstdint>
#include <cstdio>

#include <gtest/gtest.h>

#include "tests/test_files.h"

#if defined(_WIN32)

TEST(PipeInput, ServesTheWalksMovesAsAFileWould) {
  GTEST_SKIP() << "Windows names no pipe as a file: its input is used as it is";
}

#else

#include <sys/wait.h>
#include <unistd.h>

using namespace wav2ima;

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

// A child process writes `bytes` into a pipe, as a program upstream would.
std::FILE* pipe_of(const Bytes& bytes, pid_t& writer) {
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  writer = fork();
  if (writer == 0) {
    (void)close(ends[0]);
    for (std::size_t put = 0; put < bytes.size();) {
      const ssize_t n = write(ends[1], bytes.data() + put, bytes.size() - put);
      if (n <= 0) _exit(1);
      put += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  (void)close(ends[1]);
  return fdopen(ends[0], "rb");
}

// The walk's moves at every alignment: skips forward of all sizes, then
// 16-byte reads each followed by a step back of up to 15 bytes, some of them
// across a refill of the stream's buffer, while the writer keeps the pipe full.
TEST(PipeInput, ServesTheWalksMovesAsAFileWould) {
  if (skipped_without_pipe_view()) GTEST_SKIP();
  const Bytes bytes = noise_frames(1 << 20);  // 4 MiB
  pid_t writer = -1;
  std::FILE* source = pipe_of(bytes, writer);
  ASSERT_NE(source, nullptr);
  static char buffer[kBufferSize];
  std::FILE* input = seekable_input(source, buffer, kBufferSize);
  ASSERT_NE(input, nullptr);

  ASSERT_EQ(seek_stream(input, 0, SEEK_SET), 0);
  std::uint32_t random = 12345;
  std::int64_t offset = 0;
  while (true) {
    random = random * 1664525u + 1013904223u;
    offset += random >> 15;  // a skip of up to 128 KiB
    if (offset + 16 * 300 > static_cast<std::int64_t>(bytes.size())) break;
    ASSERT_EQ(seek_stream(input, offset, SEEK_SET), 0);
    for (int i = 0; i < 300; ++i) {
      unsigned char got[16];
      ASSERT_EQ(std::fread(got, 1, sizeof got, input), sizeof got);
      const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
      ASSERT_EQ(Bytes(got, got + 16), Bytes(at, at + 16)) << "at " << offset;
      offset += 1 + i % 16;
      ASSERT_EQ(seek_stream(input, offset, SEEK_SET), 0);
    }
  }
  // The end is where the file's end would be; what is long gone cannot come back.
  ASSERT_EQ(seek_stream(input, 0, SEEK_END), 0);
  EXPECT_EQ(tell_stream(input), static_cast<std::int64_t>(bytes.size()));
  EXPECT_NE(seek_stream(input, 0, SEEK_SET), 0);
  (void)std::fclose(input);
  (void)waitpid(writer, nullptr, 0);
}

}  // namespace

#endif
