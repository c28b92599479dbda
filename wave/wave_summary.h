// What a WAV file says of itself, for telling a person why the converter
// refused it, and for sizing what it makes of it: the preamble, the format
// chunk's fields, the samples it holds and whether the file ends before the
// chunks it announces. The converter's own walk, which reads no samples
// here and goes on past a format chunk the converter would refuse.
#ifndef WAV2IMA_WAVE_WAVE_SUMMARY_H
#define WAV2IMA_WAVE_WAVE_SUMMARY_H

#include <cstdint>
#include <cstdio>

#include "wave/wave_format.h"

namespace wav2ima {

struct WaveSummary {
  bool riff_wave;   // the preamble is "RIFF", size, "WAVE"
  bool has_format;  // a format chunk of 16 bytes or more was found
  // The format's tag; for an extensible format whose GUID is one of the
  // standard ones, the tag that GUID stands for (PCM, float).
  std::uint16_t format;
  std::uint16_t channels;
  std::uint32_t sample_rate;
  std::uint32_t byte_rate;  // the bytes per second the header gives
  std::uint16_t bits_per_sample;
  bool cut_short;  // a chunk or its header reaches past the end of the file
  // The bytes of samples the file holds: each data chunk's size, as far as
  // the file goes (to its end for a size a streaming writer put there).
  std::uint64_t data_bytes;
  // The bytes the converter writes for this file when it converts it: one
  // a whole frame of each data chunk.
  std::uint64_t frames;
};

// Summarises the borrowed input, read from offset 0. Returns 0, or -1 when
// the input cannot be read or moved in at all.
int summarise_wave(std::FILE* input, WaveSummary& summary);

// Takes in the fields of a format chunk whose `size`-byte body starts at
// the input's offset, whatever they are (has_format stays false for a body
// under 16 bytes or cut short); leaves the input where its read ended.
void read_format_fields(std::FILE* input, std::uint32_t size, WaveSummary& summary);

// Why the converter refuses a file with this format chunk, in words for a
// person, one reason a line, most telling first: as wavcheck, the page and
// the npm library give them. `program` names the converter in them.
constexpr std::size_t kMaxRefusals = 5;
constexpr std::size_t kRefusalSize = 96;
struct Refusals {
  char line[kMaxRefusals][kRefusalSize];
  std::size_t count;
};
void format_refusals(const WaveSummary& wave, const char* program, Refusals& refusals);

// The words for a file that is not RIFF/WAVE, and for one cut short.
inline constexpr char kNotWaveWords[] = "not a RIFF/WAVE file";
inline constexpr char kCutShortWords[] = "cut short: the file ends before its last chunk does";

}  // namespace wav2ima

#endif  // WAV2IMA_WAVE_WAVE_SUMMARY_H
