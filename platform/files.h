// What the driver asks of the file system beyond the C++ library: the names
// of descriptors the program already holds, which file an open stream or
// descriptor is and what kind, and opening an output without destroying it
// before it is known to be another file than the input.
#ifndef WAV2IMA_PLATFORM_FILES_H
#define WAV2IMA_PLATFORM_FILES_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

constexpr std::int64_t kLengthUnknown = -1;

// Readies the process as a command expects to find itself, before anything
// is opened: each of the standard descriptors 0, 1 and 2 that is closed is
// opened on the null device, so that no file the program opens takes its
// number and receives what is meant for that stream (where nothing can be
// opened, it stays closed); and on WASI, which gives a program no working
// directory of its own, the directory the host names in PWD becomes it, so
// that a relative name means what it means to the user.
void prepare_process();

// The descriptor that `name` stands for: 0, 1 and 2 for /dev/stdin,
// /dev/stdout and /dev/stderr, N for /dev/fd/N and /proc/self/fd/N with N in
// decimal without leading zeros, at most INT_MAX (as the system names them).
// -1 for every other name, and for all names on Windows and WASI, which have
// no such names.
int descriptor_named(const char* name);

// Opens `name` for binary reading; nullptr when it cannot be opened or is a
// directory (which some systems let a program open and then read as empty).
// A descriptor's name gives a stream over that descriptor as it is, at its
// own position; nullptr when it is not open for reading.
std::FILE* open_input(const char* name);

// Opens `name` for binary writing, creating it when absent but keeping the
// contents of an existing file (see truncate_output). A descriptor's name
// gives a stream over that descriptor, writing at its position in its own
// mode (appending after `>>`); nullptr when it is not open for writing.
std::FILE* open_output(const char* name);

// Empties the output opened from `name` when that is a regular file opened by
// its name. Other outputs (a pipe, a device, a descriptor the program was
// given) have nothing to empty, or must keep what is already there. 0 on
// success, -1 on failure.
int truncate_output(const char* name, std::FILE* output);

// Which file a stream or a descriptor is open on, as far as the system says.
struct FileIdentity {
  bool known;     // false for no stream, a closed descriptor, a device that does not say
  bool stored;    // a regular file or a block device: what is written there stays
  bool terminal;  // shows what is written to it and keeps nothing
  unsigned long long volume;
  unsigned long long index;
};

FileIdentity identity_of(std::FILE* stream);
// The same for a descriptor number; unknown for -1 or a closed one.
FileIdentity identity_of_descriptor(int fd);

// True when both are known and are one file (one device and inode).
bool same_file(const FileIdentity& a, const FileIdentity& b);

// True when every write to the stream goes to the end of its file, wherever
// the stream stands (a descriptor opened by `>>`).
bool appends(std::FILE* stream);

// The bytes from the stream's position to the end of a regular file;
// kLengthUnknown for anything else (a pipe, a device), whose length cannot be
// known before it is read, and for a file that says it is empty but holds
// bytes (procfs, sysfs).
std::int64_t regular_file_length(std::FILE* stream);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_FILES_H
