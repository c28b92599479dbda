/* The streams every player check decodes, the same on the host, a Cortex-M
   and an AVR, and the digest each prints for the samples it played: one
   line per stream, "NAME FRAMES DIGEST", which the host makes from ima2wav's
   output too. Written as C99 that is also C++. */
#ifndef WAV2IMA_TESTS_PLAYER_STREAMS_H
#define WAV2IMA_TESTS_PLAYER_STREAMS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where the bytes of a stream come from: fills `out` with up to `room`
   bytes, returns how many, 0 at the end. */
typedef size_t (*StreamFill)(void* source, uint8_t* out, size_t room);

/* The generated streams, in the order they are checked. */
enum { kEveryState, kSilence, kSquares, kGeneratedStreams };

typedef struct Generator {
  int kind;
  uint32_t made;         /* bytes so far */
  uint8_t step_index[2]; /* each channel's, followed as the stream goes */
  uint8_t steered;       /* the channel brought to `target`: 0 left, 1 right */
  uint8_t target;        /* the step index it is brought to */
  uint16_t byte;         /* the byte played there next, 256 when done */
  uint8_t sign;          /* alternates the steering codes' sign */
} Generator;

const char* stream_name(int kind);
void generator_start(Generator* generator, int kind);
size_t generator_fill(void* generator, uint8_t* out, size_t room);

typedef struct Digest {
  uint32_t hash; /* FNV-1a over the samples as 16-bit little-endian bytes */
  uint32_t frames;
} Digest;

void digest_start(Digest* digest);
void digest_bytes(Digest* digest, const uint8_t* bytes, size_t count);
void digest_frames(Digest* digest, const int16_t* frames, size_t count);
/* "NAME FRAMES HASH\n" into `line`, which holds 64 bytes. */
void digest_line(const char* name, const Digest* digest, char* line);

/* Plays every stream with the player, the generated ones and the example
   from `example_fill` (none when null), in calls of 1 to 61 bytes, and
   hands each line to `print`. */
void check_streams(StreamFill example_fill, void* example, void (*print)(const char* line));

#ifdef __cplusplus
}
#endif

#endif
