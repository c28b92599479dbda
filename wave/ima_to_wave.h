// The reverse direction: a bare stream written by the converter back into a
// canonical 16-bit stereo 44100 Hz WAV file (layout in canonical_header.h).
#ifndef WAV2IMA_WAVE_IMA_TO_WAVE_H
#define WAV2IMA_WAVE_IMA_TO_WAVE_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

// Decodes the input from its current offset to its end, starting both
// channels from predictor 0 and step index 0, behind a header written at the
// output's offset, whose sizes never disagree with the samples after it:
//   - `input_length` (the bytes of a regular input from its offset, or
//     negative when unknown) gives 4 bytes of samples per input byte;
//   - otherwise, or when the input turns out to have another length, the
//     header is rewritten with the real sizes once the last sample is out,
//     if the output can seek and does not append (`output_appends`: every
//     write goes to the end of the file);
//   - an unknown length that the output cannot go back to fix stays
//     0xFFFFFFFF in both sizes (length unknown).
// Both streams are borrowed; the output is left at the end of what it
// wrote. Returns 0, or -1 on a failed read or write, or an input whose length
// differed from `input_length` under a header that could not be rewritten.
int convert_ima_file(std::FILE* output, std::FILE* input, std::int64_t input_length,
                     bool output_appends);

}  // namespace wav2ima

#endif  // WAV2IMA_WAVE_IMA_TO_WAVE_H
