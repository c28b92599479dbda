// Input from a pipe, a FIFO, a socket or a terminal, or a file the program
// was given part-read, read as if it were a regular file of its own.
//
// A pipe cannot seek, so its bytes are served through a stream that can,
// over the replay of its recent past: platform/replay.h has the walk's
// moves and how each is served.
#ifndef WAV2IMA_PLATFORM_PIPE_VIEW_H
#define WAV2IMA_PLATFORM_PIPE_VIEW_H

#include <cstddef>
#include <cstdio>

namespace wav2ima {

// A stream reading the input's bytes from its current position, taken as
// offset 0. An input that stands at offset 0 and can seek is that stream
// itself. Any other input (a pipe, or a file the program was given
// part-read) gets a new stream with the buffer `buffer` of `size` bytes,
// which takes the input over (closing the new stream closes the input too).
// Returns nullptr when no such stream can be made (its memory cannot be
// had); the input is then left open and untouched.
std::FILE* seekable_input(std::FILE* input, char* buffer, std::size_t size);

// True where the C library lets the view be made; elsewhere (Windows) a pipe
// is kept as it is, and the walk's first seek fails on it.
bool pipes_readable_as_files();

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_PIPE_VIEW_H
