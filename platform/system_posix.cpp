// Linux, macOS and the BSDs: signals, and what Linux lets a program ask of
// its files and pipes, where the build found it.
#include <fcntl.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <initializer_list>

#include "platform/messages.h"
#include "platform/system.h"

#if defined(WAV2IMA_HAVE_LINUX_MAGIC)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace wav2ima {

// The file systems that say a length they do not hold (0, or 4096 for every
// sysfs attribute): a read of /proc/kmsg consumes what it reads, so no byte
// is read to find out. Where the system names no file systems, every
// regular file's length holds.
bool file_system_vouches_for_length(int fd) {
#if defined(WAV2IMA_HAVE_LINUX_MAGIC)
  struct statfs file_system;
  if (fstatfs(fd, &file_system) != 0) return true;
  const auto made_as_read = {PROC_SUPER_MAGIC,   SYSFS_MAGIC,      DEBUGFS_MAGIC,
                             TRACEFS_MAGIC,      SECURITYFS_MAGIC, CGROUP_SUPER_MAGIC,
                             CGROUP2_SUPER_MAGIC};
  return std::ranges::none_of(made_as_read, [&file_system](auto magic) {
    return file_system.f_type == static_cast<decltype(file_system.f_type)>(magic);
  });
#else
  (void)fd;
  return true;
#endif
}

std::FILE* open_scratch_stream() {
  return std::tmpfile();
}

void widen_pipe(int fd) {
#if defined(F_SETPIPE_SZ)
  // Room for the writer to run blocks ahead (Linux alone can be asked).
  // Refused (over the system's pipe-max-size, or not a pipe at all), it
  // costs only speed.
  constexpr int kPipeCapacity = 1 << 20;
  (void)fcntl(fd, F_SETPIPE_SZ, kPipeCapacity);
#else
  (void)fd;
#endif
}

// The system keeps the working directory; the kernel decides every name.
void enter_working_directory() {}

bool reachable(const char* /*name*/) {
  return true;
}

void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count) {
  // Ignored around this write alone: the output's own pipe still ends the
  // program by SIGPIPE when its reader has gone, as for any other writer.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  const bool ignored = sigaction(SIGPIPE, &ignore, &previous) == 0;
  write_pieces(fileno(stream), pieces, count);
  if (ignored) (void)sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace wav2ima
