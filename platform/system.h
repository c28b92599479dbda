// What each system's side of the platform layer gives the shared files
// (files.cpp, pipe_view.cpp): the same names on every system, defined in the
// files CMake picks for it:
//
//   system            descriptors            the rest                the pipe view's stream
//   ----------------  ---------------------  ----------------------  ---------------------------
//   Linux, musl       descriptors_posix.cpp  system_posix.cpp        pipe_stream_fopencookie.cpp
//   macOS, the BSDs   descriptors_posix.cpp  system_posix.cpp        pipe_stream_funopen.cpp
//   WASI              descriptors_posix.cpp  system_wasi.cpp         pipe_stream_fopencookie.cpp
//   Windows           system_windows.cpp     system_windows.cpp      system_windows.cpp (none)
//
// with the stream calls of stream_io.h, write_message of messages.h and the
// calls of pipe_stream.h; and parallel.h's run_both from parallel_threads.cpp
// (WASI: parallel_serial.cpp).
// Nothing above platform/ includes it.
#ifndef WAV2IMA_PLATFORM_SYSTEM_H
#define WAV2IMA_PLATFORM_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/files.h"
#include "platform/messages.h"

namespace wav2ima {

enum FileKind { kOtherKind, kDirectory, kRegular };

struct FileStatus {
  FileKind kind;
  std::int64_t length;
  // False where the file system makes the bytes as they are read.
  bool length_vouched;
  FileIdentity identity;
};

// Descriptors, as the C runtime numbers them. Each returns what the system
// call it stands for returns: -1 (or false, or nullptr) with errno set on
// failure.
int descriptor_of(std::FILE* stream);
int open_null_device();  // for reading and writing
// Opens a path for reading, never making a terminal the program's own.
int open_input_descriptor(const char* name);
// Opens a path for writing, creating it when absent, keeping what it holds,
// never making a terminal the program's own.
int open_output_descriptor(const char* name);
std::FILE* stream_of_opened(int fd, const char* mode);
int close_descriptor(int fd);
int truncate_descriptor(int fd);
bool status_of(int fd, FileStatus& status);

// Descriptors the program was given, named by the names the system's shells
// read (/dev/fd/N and the like); false where the system has none (Windows).
bool descriptors_have_names();
// True when the descriptor is open.
bool held(int fd);
// A stream over a descriptor the program was given, when it is open in the
// direction of `mode`; nullptr with errno set otherwise.
std::FILE* stream_of_descriptor(int fd, const char* mode);

// Writes the pieces in one gathering write, again after a signal and after
// a write cut short, until done or failed.
void write_pieces(int fd, const MessagePiece* pieces, std::size_t count);

// Reads up to `size` bytes, again after a signal: the count, 0 at the end,
// -1 on an error.
std::ptrdiff_t read_descriptor(int fd, unsigned char* into, std::size_t size);
// Asks for room for a writer to run ahead in the pipe; refused, it costs
// only speed.
void widen_pipe(int fd);

// False where the file system makes a file's bytes as they are read and
// says a length it does not hold (procfs, sysfs), told by the file system,
// never by reading.
bool file_system_vouches_for_length(int fd);

// A stream for bytes the program writes and reads back, gone once closed:
// null, errno set, where the system gives none.
std::FILE* open_scratch_stream();

// Where a relative name starts from, set from what the host says (nothing
// to do where the system keeps it); false for a name the program cannot
// reach on its own.
void enter_working_directory();
bool reachable(const char* name);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_SYSTEM_H
