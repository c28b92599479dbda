// The stream a pipe view is read through, made by whichever call the C
// library has for a stream of a program's own functions (fopencookie,
// funopen): pipe_view.cpp serves the reads, moves and close; the
// pipe_stream file CMake picks makes the stream of them.
#ifndef WAV2IMA_PLATFORM_PIPE_STREAM_H
#define WAV2IMA_PLATFORM_PIPE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace wav2ima {

// Of the view behind a stream: up to `size` bytes (the count, 0 at the end,
// -1 on an error); a move (0 with `target` set, or -1 with errno set); the
// close, which closes the input too (fclose's result).
std::ptrdiff_t read_view(void* view, char* buffer, std::size_t size);
int seek_view(void* view, std::int64_t offset, int whence, std::int64_t& target);
int close_view(void* view);

// A stream of those three over `view`, for reading; nullptr where it cannot
// be made.
std::FILE* stream_of_view(void* view);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_PIPE_STREAM_H
