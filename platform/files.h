// What the driver asks of the file system beyond the C++ library: the names
// of descriptors the program was given, which file an open stream or
// descriptor is and what kind, and opening an output without destroying it
// before it is known to be another file than the input.
#ifndef WAV2IMA_PLATFORM_FILES_H
#define WAV2IMA_PLATFORM_FILES_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

constexpr std::int64_t kLengthUnknown = -1;

// A file name as the program took it when it started, before it opened
// anything of its own: the descriptor it names (/dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N and /proc/self/fd/N with N in decimal without
// leading zeros, at most INT_MAX), and whether the program was given that
// descriptor; or a path (descriptor -1, and always so on Windows).
struct FileName {
  const char* name;  // null for an absent name
  int descriptor;
  bool given;
};

FileName take_name(const char* name);

// Readies the process as a command expects to find itself, once the names
// are taken: each of the standard descriptors 0, 1 and 2 that is closed is
// opened on the null device, so that no file the program opens takes its
// number and receives what is meant for that stream (where nothing can be
// opened, it stays closed); and on WASI, which gives a program no working
// directory of its own, the directory the host names in PWD becomes it, so
// that a relative name means what it means to the user.
void prepare_process();

// Opens the file for binary reading: a path, or a descriptor the program
// was given, used as it is, at its own position (closing the stream closes
// it). nullptr, with errno set, when it cannot be opened, is a directory
// (which some systems let a program open and then read as empty), or names
// a descriptor not given or not open for reading; errno ENOMEM when the
// stream's own memory could not be had.
std::FILE* open_input(const FileName& file);

// Opens the file for binary writing, creating a path when absent but keeping
// the contents of an existing file (see truncate_output), and never making
// a terminal the program's own. A descriptor is used as it is, writing at
// its position in its own mode (appending after `>>`); nullptr, with errno
// set as for open_input, when it was not given or is not open for writing.
std::FILE* open_output(const FileName& file);

// A stream for bytes the program writes and reads back, gone once closed:
// nullptr, with errno set, where the system gives none (WASI).
std::FILE* open_scratch();

// Empties the output opened from a path when that is a regular file. Other
// outputs (a pipe, a device, a descriptor the program was given) have
// nothing to empty, or must keep what is already there. 0 on success, -1 on
// failure.
int truncate_output(const FileName& file, std::FILE* output);

// Which file a stream or a descriptor is open on, as far as the system says.
struct FileIdentity {
  bool known;     // false for no stream, a closed descriptor, a device that does not say
  bool stored;    // a regular file or a block device: what is written there stays
  bool terminal;  // shows what is written to it and keeps nothing
  unsigned long long volume;
  unsigned long long index;
};

FileIdentity identity_of(std::FILE* stream);
// The same for a descriptor the program was given; unknown for any other.
FileIdentity identity_of(const FileName& file);

// True when both are known and are one file (one device and inode).
bool same_file(const FileIdentity& a, const FileIdentity& b);

// True when every write to the stream goes to the end of its file, wherever
// the stream stands (a descriptor opened by `>>`).
bool appends(std::FILE* stream);

// The bytes from the stream's position to the end of a regular file;
// kLengthUnknown for anything else (a pipe, a device), whose length cannot be
// known before it is read, and for a file whose file system makes its bytes
// as they are read and vouches for no length (procfs, sysfs): told by the
// file system, never by reading.
std::int64_t regular_file_length(std::FILE* stream);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_FILES_H
