// What the driver asks of the file system beyond the C++ library: which file
// an open stream is, what kind of file, and opening an output without
// destroying it before it is known to be another file than the input.
#ifndef WAV2IMA_APP_PLATFORM_H
#define WAV2IMA_APP_PLATFORM_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

constexpr std::int64_t kLengthUnknown = -1;

// Opens `name` for binary reading; nullptr when it cannot be opened or is a
// directory (which some systems let a program open and then read as empty).
std::FILE* open_input(const char* name);

// Opens `name` for binary writing, creating it when absent but keeping the
// contents of an existing file (see truncate_output). nullptr on failure.
std::FILE* open_output(const char* name);

// Empties a regular output file; other outputs (a pipe, a device) have
// nothing to empty. 0 on success, -1 on failure.
int truncate_output(std::FILE* output);

// True when both streams are open on one file (one device and inode).
bool same_file(std::FILE* a, std::FILE* b);

// True when the stream is open on the file that standard output is.
bool is_standard_output(std::FILE* stream);

// The length of a regular file; kLengthUnknown for anything else (a pipe, a
// device), whose length cannot be known before it is read.
std::int64_t regular_file_length(std::FILE* stream);

}  // namespace wav2ima

#endif  // WAV2IMA_APP_PLATFORM_H
