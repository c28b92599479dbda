// The stream calls whose names differ between POSIX and Windows, for the
// encoder, the chunk walk and ima2wav: seek and tell with 64-bit offsets, and
// where the writes that reached a file end.
#ifndef WAV2IMA_PLATFORM_STREAM_IO_H
#define WAV2IMA_PLATFORM_STREAM_IO_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

// 0 on success, -1 on failure. POSIX gets 64-bit offsets from
// _FILE_OFFSET_BITS=64, which every target of the build sets; Windows has
// calls of its own for them.
int seek_stream(std::FILE* stream, std::int64_t offset, int whence);

// The current offset, or -1 when the stream cannot tell it.
std::int64_t tell_stream(std::FILE* stream);

// Where the writes that reached the stream's file end: the descriptor's own
// offset, which bytes still in the stream's buffer, or lost with a write that
// failed, have not moved. -1 when the file cannot tell (a pipe).
std::int64_t written_end(std::FILE* stream);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_STREAM_IO_H
