// The reverse direction: a bare stream written by the converter back into a
// canonical 16-bit stereo 44100 Hz WAV file (layout in canonical_header.h).
#ifndef WAV2IMA_WAVE_IMA_TO_WAVE_H
#define WAV2IMA_WAVE_IMA_TO_WAVE_H

#include <cstdint>
#include <cstdio>

namespace wav2ima {

// Decodes the input from its current offset to its end, starting both
// channels from predictor 0 and step index 0, behind a header written at the
// output's offset that never claims more samples than the file holds:
//   - on an output that can go back (it can seek and does not append:
//     `output_appends` says every write goes to the end of the file), the
//     sizes read 0xFFFFFFFF (length unknown) until the last sample is out,
//     then are rewritten with the whole frames the file holds, after a
//     failure too;
//   - on any other output (a pipe), `input_length` (the bytes of a regular
//     input from its offset, or negative when unknown) gives 4 bytes of
//     samples per input byte, and an unknown length stays unknown.
// Both streams are borrowed; the output is left at the end of what it
// wrote. Returns 0, or -1 on a failed read or write, or an input whose length
// differed from the sizes already sent where they could not be rewritten.
int convert_ima_file(std::FILE* output, std::FILE* input, std::int64_t input_length,
                     bool output_appends);

}  // namespace wav2ima

#endif  // WAV2IMA_WAVE_IMA_TO_WAVE_H
