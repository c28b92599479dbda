// RIFF/WAVE chunk walk: checks the preamble, walks the chunks of the RIFF
// body, tests the format chunk and hands every data chunk to the encoder.
//
// Preamble (all numbers little-endian, sizes unsigned 32-bit):
//
//   offset  size  field
//        0     4  "RIFF"
//        4     4  RIFF size: bytes that follow this field
//        8     4  "WAVE"
//       12   ...  chunks
//
// Chunk:
//
//   offset  size  field
//        0     4  identifier, compared byte for byte ("fmt ", "data", ...)
//        4     4  body size
//        8  size  body, then one 0x00 pad byte when the size is odd
//
// Format chunk body, the bytes tested (low bytes of the standard fields):
//
//   byte 0 = 1 (PCM)  byte 2 = 2 (stereo)  bytes 4,5 = 0x44 0xAC (44100 Hz)
//   byte 10 = 2 (third byte of 176400 bytes per second)
//
// or, for WAVE_FORMAT_EXTENSIBLE, a body of 40 bytes or more:
//
//   bytes 0,1 = 0xFE 0xFF  bytes 2, 4, 5 and 10 as above
//   bytes 24..39 = the PCM subformat GUID 01000000-0000-0010-8000-00AA00389B71
//
// Sizes a writer streaming to a pipe puts in place of one it cannot know:
//
//   RIFF size 0xFFFFFFFF         the file may end after any whole chunk
//   data size 0xFFFFFFFF         the body runs to the end of the input
//   data size 0x7FFF0000 or more the body ends at that size or at the end of
//                                the input, whichever comes first
//   data size 0, RIFF size used  the body runs to the end of the input, if
//   up, and more bytes follow    any follows
#ifndef WAV2IMA_WAVE_CHUNK_WALK_H
#define WAV2IMA_WAVE_CHUNK_WALK_H

#include <cstdint>
#include <cstdio>

#include "adpcm/encoder.h"
#include "wave/wave_format.h"

namespace wav2ima {

// The body of a data chunk as the walk hands it on: `size` bytes from the
// input's offset, all of the rest of the input (a placeholder size), or
// `size` bytes unless the input ends first (a placeholder that may be real).
struct DataBody {
  enum Extent { kExactly, kToTheEnd, kAtMost };
  Extent extent;
  std::uint32_t size;
};

// What follows a chunk the walk handed on.
enum ChunkEnd { kNextChunk, kInputEnded, kChunkFailed };

// What a walk does with the chunks it acts on; every other chunk is stepped
// over. Each function gets `context`, the input at the first byte of the
// body, and leaves the input after the body to go on.
struct ChunkVisitor {
  void* context;
  // A format chunk of `size` body bytes: kNextChunk, or kChunkFailed to end
  // the walk with failure.
  ChunkEnd (*format)(void* context, std::FILE* input, std::uint32_t size);
  // A data chunk: kNextChunk, kInputEnded when the body ran to the end of
  // the input (the walk then ends with success), or kChunkFailed.
  ChunkEnd (*data)(void* context, std::FILE* input, DataBody body);
  // A sampler chunk ("smpl", where a loop is kept) of `size` body bytes,
  // as `format`; stepped over when null.
  ChunkEnd (*sampler)(void* context, std::FILE* input, std::uint32_t size) = nullptr;
};

// Why a walk failed, for words a person reads.
enum class WalkFailure {
  kNone,
  kNotWave,      // the preamble is not "RIFF", size, "WAVE"
  kCutShort,     // the input ends inside a chunk header
  kReadFailed,   // a read or a seek failed
  kChunkFailed,  // the visitor failed a chunk
};

// Walks the whole input from offset 0, handing the format and data chunks
// to `visitor`. The input is borrowed. Returns 0 when the RIFF body is used
// up (or, with an unknown RIFF size, the input ends at a chunk boundary, or
// a data chunk runs to the end of the input); -1 on a bad preamble, a short
// chunk header, a read error, a failed seek or a chunk the visitor failed,
// and says which in `failure` when given.
int walk_wave(std::FILE* input, const ChunkVisitor& visitor, WalkFailure* failure = nullptr);

// What readies the output once the input is worth converting: called once,
// before the first data chunk is encoded, or at the end of a walk that
// found none, so that a refused input leaves an existing output as it was.
// 0, or -1 to end the walk with failure.
struct OutputStart {
  void* context;
  int (*start)(void* context);
};

// Walks the input and writes the encoded stream to the output: every data
// chunk encoded by `coder` (the rule by default), the format chunk tested,
// `start` called as it says (none by default). Both streams are borrowed and
// stay open. 0 or -1 as walk_wave (a failing format chunk fails the walk).
// Output written before a failure stays.
int convert_file(std::FILE* output, std::FILE* input);
int convert_file(std::FILE* output, std::FILE* input, const FrameCoder& coder,
                 const OutputStart& start);

// The converter's own handling of a format chunk and a data chunk, for
// visitors that do more around them; `context` is a Conversion.
struct Conversion {
  std::FILE* output;
  const FrameCoder* coder;
  OutputStart start;
  bool started;
};
// Calls the conversion's start if it has not been called. 0 or -1.
int start_output(Conversion& conversion);
ChunkEnd test_format(void* conversion_record, std::FILE* input, std::uint32_t size);
ChunkEnd encode_data(void* conversion_record, std::FILE* input, DataBody body);

// Reads the 8-byte RIFF header. 0 with `riff_size` set when the tag is "RIFF";
// -1 on a short read or another tag.
int read_riff_header(std::FILE* input, std::uint32_t& riff_size);

// Reads the 4-byte form type. 0 when it is "WAVE"; -1 on a short read or another.
int read_wave_tag(std::FILE* input);

// Tests a format chunk whose `size`-byte body starts at the input's offset.
// 0 when its tested bytes match and the input was moved to the end of the
// body; -1 on a short read (input left where the read ended), a failing byte
// (input left 16 bytes into the body, 40 for an extensible format) or a
// failed seek.
int check_format_chunk(std::FILE* input, std::uint32_t size);

// 1 when the 8-byte chunk header's identifier is "fmt " (or "data"), else 0.
int is_format_chunk(const unsigned char* header);
int is_data_chunk(const unsigned char* header);

// The first loop of a sampler chunk: frames from `start` to `end`, the
// last frame played, both counted from 0.
struct SamplerLoop {
  bool found;
  std::uint32_t start;
  std::uint32_t end;
};

// Reads the first loop of a sampler chunk's body of `size` bytes and leaves
// the input after the body: 0, with `loop.found` false when the chunk holds
// no loop or a loop that ends before it starts; -1 on a failed read or seek.
//
//   offset  size  field
//       28     4  number of loops
//   36 + 24k      loop k: cue id, type, start, end, fraction, play count
int read_sampler_loop(std::FILE* input, std::uint32_t size, SamplerLoop& loop);

// The unsigned 32-bit number stored least significant byte first.
std::uint32_t read_le32(const unsigned char* bytes);

}  // namespace wav2ima

#endif  // WAV2IMA_WAVE_CHUNK_WALK_H
