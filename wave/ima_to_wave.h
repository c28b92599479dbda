// The reverse direction: a bare stream written by the converter back into a
// canonical 16-bit stereo 44100 Hz WAV file (layout in canonical_header.h).
#ifndef WAV2IMA_WAVE_IMA_TO_WAVE_H
#define WAV2IMA_WAVE_IMA_TO_WAVE_H

#include <cstdio>

// Writes the header for 4 bytes of samples per input byte, then the decoded
// samples, starting both channels from predictor 0 and step index 0. The
// input must be seekable (its length sizes the header); it is read from
// offset 0. Both streams are borrowed. Returns 0, or -1 on a failed seek,
// read or write.
int convert_ima_file(std::FILE* output, std::FILE* input);

#endif  // WAV2IMA_WAVE_IMA_TO_WAVE_H
