// The order of work every command shares: the names, the opens, the
// same-file and pipe checks, the conversion, the closes and the words said.
// The commands differ in what they convert and how they speak.
#ifndef WAV2IMA_APP_CONVERSION_H
#define WAV2IMA_APP_CONVERSION_H

#include <cstdint>
#include <cstdio>

#include "wave/chunk_walk.h"

namespace wav2ima {

// What the driver knows of the two files before the conversion starts: the
// length of a regular input, so that ima2wav can size its header and notice
// an input that changes under it, and whether the output only appends, so
// that ima2wav never tries to go back to its header there; and what empties
// an existing output, for a conversion that does so itself once its input is
// accepted. 0 or -1.
using Convert = int (*)(void* context, std::FILE* output, std::FILE* input,
                        std::int64_t input_length, bool output_appends, const OutputStart& start);

// How a program speaks and what it converts. wav2ima and ima2wav (no
// `prefix`) announce each conversion and say "can not open NAME" or
// "convert error"; a program with a `prefix` (imaenc) announces nothing and
// says each failure as one line "PREFIX: NAME: REASON", a conversion's own
// failure in the words `explain` gives, and after a success what `report`
// gives, if anything.
struct Program {
  Convert convert;
  void* context;
  // True when the conversion empties an existing output itself, through
  // the OutputStart it is given, once the input is accepted; otherwise the
  // driver empties it before the conversion starts.
  bool empties_output;
  const char* prefix;
  void (*explain)(void* context, const char*& name, const char*& reason);
  void (*report)(void* context, const char*& name, const char*& words);
};

// Runs one conversion with argv[1] as input and argv[2] as output (absent
// ones are null names). Returns the exit status: 0 on success, 1 on any
// failure.
int run_conversion(int argc, char** argv, const Program& program);

}  // namespace wav2ima

#endif  // WAV2IMA_APP_CONVERSION_H
