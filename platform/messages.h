// Messages that cannot stop the program: a conversion's status is its own,
// whatever became of the streams its messages go to.
#ifndef WAV2IMA_PLATFORM_MESSAGES_H
#define WAV2IMA_PLATFORM_MESSAGES_H

#include <cstddef>
#include <cstdio>

namespace wav2ima {

// Writes `size` bytes of `text` in one write on the stream's descriptor, past
// the stream's buffer, ignoring failure: a reader that has gone, a full
// device or a closed descriptor neither stops nor signals the program.
void write_message(std::FILE* stream, const char* text, std::size_t size);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_MESSAGES_H
