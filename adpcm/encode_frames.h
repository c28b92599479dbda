// The frame loop behind encode_data_chunk and encode_data_to_end. Two builds
// provide it: the fast one (encoder.cpp) and the plain reference design
// (encoder_plain.cpp, chosen with WAV2IMA_PLAIN_ENCODER), byte for byte alike.
#ifndef WAV2IMA_ADPCM_ENCODE_FRAMES_H
#define WAV2IMA_ADPCM_ENCODE_FRAMES_H

#include <cstdint>
#include <cstdio>

enum EncodeEnd { kCountReached, kInputEnded, kFailed };

// Reads up to `count` bytes of interleaved frames from the input's offset and
// writes one byte per whole frame, continuing `encoder_state`. Every call
// starts a new frame at its first byte; a 1-3 byte tail is read and dropped.
// kInputEnded: the input ended first (the partial frame is lost);
// kFailed: a read error or a failed write.
EncodeEnd encode_frames(std::FILE* output, std::FILE* input, std::uint64_t count);

#endif  // WAV2IMA_ADPCM_ENCODE_FRAMES_H
