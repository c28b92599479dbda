// Messages that cannot stop the program: a conversion's status is its own,
// whatever became of the streams its messages go to.
#ifndef WAV2IMA_PLATFORM_MESSAGES_H
#define WAV2IMA_PLATFORM_MESSAGES_H

#include <cstddef>
#include <cstdio>

namespace wav2ima {

struct MessagePiece {
  const char* text;
  std::size_t size;
};

// The most pieces one message is written in at once.
constexpr std::size_t kMaxMessagePieces = 64;

// Writes the `count` pieces (at most kMaxMessagePieces) one after another in
// one write on the stream's descriptor, past the stream's buffer and
// without allocating, ignoring failure: a reader that has gone, a full
// device or a closed descriptor neither stops nor signals the program.
// (Windows, which has no gathering write, writes up to 4 KiB at a time.)
void write_message(std::FILE* stream, const MessagePiece* pieces, std::size_t count);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_MESSAGES_H
