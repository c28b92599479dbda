#include "platform/pipe_view.h"
#include "platform/replay.h"
#include "platform/stream_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

#include "tests/test_files.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace wav2ima;

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

// The input as the walk moves over it: to an offset from a start, and 16
// bytes from there (false for fewer).
struct Mover {
  std::function<int(std::int64_t offset, int whence)> seek;
  std::function<bool(unsigned char* into)> read16;
  std::function<std::int64_t()> tell;
};

// The walk's moves at every alignment: skips forward of all sizes, then
// 16-byte reads each followed by a step back of up to 15 bytes, some of them
// across a refill; then the end, which is where a file's would be, and the
// start, long gone, which cannot come back.
void make_the_walks_moves(const Bytes& bytes, const Mover& input) {
  ASSERT_EQ(input.seek(0, SEEK_SET), 0);
  std::uint32_t random = 12345;
  std::int64_t offset = 0;
  while (true) {
    random = random * 1664525u + 1013904223u;
    offset += random >> 15;  // a skip of up to 128 KiB
    if (offset + 16 * 300 > static_cast<std::int64_t>(bytes.size())) break;
    ASSERT_EQ(input.seek(offset, SEEK_SET), 0);
    for (int i = 0; i < 300; ++i) {
      unsigned char got[16];
      ASSERT_TRUE(input.read16(got)) << "at " << offset;
      const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
      ASSERT_EQ(Bytes(got, got + 16), Bytes(at, at + 16)) << "at " << offset;
      offset += 1 + i % 16;
      ASSERT_EQ(input.seek(offset, SEEK_SET), 0);
    }
  }
  ASSERT_EQ(input.seek(0, SEEK_END), 0);
  EXPECT_EQ(input.tell(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_NE(input.seek(0, SEEK_SET), 0);
}

// Bytes in memory, handed over in pieces of 1 byte to 64 KiB, as a pipe
// hands over what its writer managed to put in.
struct PieceSource {
  const Bytes* bytes;
  std::size_t at;
  std::uint32_t random;
};

std::ptrdiff_t read_piece(void* context, unsigned char* into, std::size_t size) {
  auto& source = *static_cast<PieceSource*>(context);
  source.random = source.random * 1664525u + 1013904223u;
  const std::size_t count =
      std::min({size, source.bytes->size() - source.at, std::size_t{1} + (source.random >> 16)});
  std::copy_n(source.bytes->begin() + static_cast<std::ptrdiff_t>(source.at), count, into);
  source.at += count;
  return static_cast<std::ptrdiff_t>(count);
}

// The replay itself, on every system: its own reads come back short at the
// ring's end, as a stream's refills do.
TEST(PipeInput, TheReplayServesTheWalksMovesAsAFileWould) {
  const Bytes bytes = noise_frames(1 << 20);  // 4 MiB
  PieceSource source{&bytes, 0, 7};
  Replay replay{};
  ASSERT_EQ(start_replay(replay, ReplaySource{read_piece, &source}, kBufferSize), 0);
  std::int64_t target = 0;
  const Mover mover{
      [&](std::int64_t offset, int whence) { return replay_seek(replay, offset, whence, target); },
      [&](unsigned char* into) {
        for (std::size_t got = 0; got < 16;) {
          const std::ptrdiff_t count =
              replay_read(replay, reinterpret_cast<char*>(into) + got, 16 - got);
          if (count <= 0) return false;
          got += static_cast<std::size_t>(count);
        }
        return true;
      },
      [&] { return replay.position; }};
  make_the_walks_moves(bytes, mover);
  EXPECT_EQ(errno, ESPIPE);
  EXPECT_EQ(replay_seek(replay, -1, SEEK_SET, target), -1);
  EXPECT_EQ(errno, EINVAL);
  end_replay(replay);
}

// The oldest byte the ring still holds, offset received - size, is served;
// the byte before it is forgotten.
TEST(PipeInput, TheReplayServesItsOldestByteAndNoneBefore) {
  const Bytes bytes = noise_frames(1 << 18);  // 1 MiB
  PieceSource source{&bytes, 0, 11};
  Replay replay{};
  ASSERT_EQ(start_replay(replay, ReplaySource{read_piece, &source}, kBufferSize), 0);
  std::int64_t target = 0;
  // Far enough in that the ring has wrapped.
  ASSERT_EQ(replay_seek(replay, 3 * static_cast<std::int64_t>(replay.size), SEEK_SET, target), 0);
  char byte = 0;
  ASSERT_EQ(replay_read(replay, &byte, 1), 1);
  const std::int64_t oldest = replay.received - static_cast<std::int64_t>(replay.size);
  ASSERT_EQ(replay_seek(replay, oldest, SEEK_SET, target), 0);
  ASSERT_EQ(replay_read(replay, &byte, 1), 1);
  EXPECT_EQ(static_cast<unsigned char>(byte), bytes[static_cast<std::size_t>(oldest)]);
  const std::int64_t newest = replay.received;
  ASSERT_EQ(
      replay_seek(replay, newest - static_cast<std::int64_t>(replay.size) - 1, SEEK_SET, target),
      -1);
  EXPECT_EQ(errno, ESPIPE);
  end_replay(replay);
}

#if defined(_WIN32)

TEST(PipeInput, ServesTheWalksMovesAsAFileWould) {
  GTEST_SKIP() << "Windows names no pipe as a file: its input is used as it is";
}

#else

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

// Through the C library's stream, its buffer and its refills, while the
// writer keeps the pipe full.
TEST(PipeInput, ServesTheWalksMovesAsAFileWould) {
  if (skipped_without_pipe_view()) GTEST_SKIP();
  const Bytes bytes = noise_frames(1 << 20);  // 4 MiB
  pid_t writer = -1;
  std::FILE* source = pipe_of(bytes, writer);
  ASSERT_NE(source, nullptr);
  static char buffer[kBufferSize];
  std::FILE* input = seekable_input(source, buffer, kBufferSize);
  ASSERT_NE(input, nullptr);
  const Mover mover{
      [&](std::int64_t offset, int whence) { return seek_stream(input, offset, whence); },
      [&](unsigned char* into) { return std::fread(into, 1, 16, input) == 16; },
      [&] { return tell_stream(input); }};
  make_the_walks_moves(bytes, mover);
  (void)std::fclose(input);
  (void)waitpid(writer, nullptr, 0);
}

#endif

}  // namespace
