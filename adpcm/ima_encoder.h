/* ima_encoder.h: writes the streams wav2ima writes, with codes chosen by
 * search. Any IMA player plays them as they are: only the choice of codes
 * is new, the decoder's rule (player/ima_player.h) is the contract. C or
 * C++; link the static library (wav2ima::encoder, or pkg-config wav2ima).
 *
 *   frames in:   int16_t, interleaved left, right, left, right ...
 *   bytes out:   one per stereo frame, no header, no trailer
 *
 *   bit    7   6   5   4   3   2   1   0
 *        +---+---+---+---+---+---+---+---+
 *        |   left code   |  right code   |
 *        +---+---+---+---+---+---+---+---+
 *
 * Level 0 writes exactly what wav2ima writes (the standard's rule for each
 * code). Level 1 takes, for each sample, the code whose reconstruction lands
 * nearest it. Levels 2 to 4 look one or two samples ahead; levels 5 to 9
 * keep several candidate streams for each channel and decide each code up
 * to IMA_ENCODER_MAX_DELAY frames later, searching more at each level. Each
 * costs more time than the one before, never more memory than the encoder's
 * own record. Decisions are in integers: a level gives the same bytes on
 * every machine, however the frames are split across calls. */
#ifndef WAV2IMA_ADPCM_IMA_ENCODER_H
#define WAV2IMA_ADPCM_IMA_ENCODER_H

/* A C header as much as a C++ one: the C names. */
#include <stddef.h> /* NOLINT(modernize-deprecated-headers) */
#include <stdint.h> /* NOLINT(modernize-deprecated-headers) */

#ifdef __cplusplus
extern "C" {
#endif

/* The most frames a search holds back before writing their byte. */
#define IMA_ENCODER_MAX_DELAY 32
#define IMA_ENCODER_LEVEL_MAX 9

typedef struct ImaEncoder ImaEncoder; /* opaque; NOLINT(modernize-use-using) */

/* A new encoder at `level` 0..9, at the start of a stream. NULL: a level
   outside 0..9, or no memory. */
ImaEncoder* ima_encoder_new(int level);

/* Encodes `count` interleaved stereo frames (left, right); writes whole
   stream bytes to `out` and returns how many: at most
   count + IMA_ENCODER_MAX_DELAY. */
size_t ima_encoder_feed(ImaEncoder* encoder, const int16_t* frames, size_t count, uint8_t* out);

/* Writes the frames still held back (at most IMA_ENCODER_MAX_DELAY bytes).
   The encoder then starts a new stream. */
size_t ima_encoder_finish(ImaEncoder* encoder, uint8_t* out);

/* Fills `mark` (player/ima_player.h's ImaPlayerMark) with the frames
   written so far in this stream and the state a player reaches after
   decoding them: a place to enter or loop the stream without decoding what
   comes before. After ima_encoder_finish, the start of the next stream. */
struct ImaPlayerMark;
void ima_encoder_mark(const ImaEncoder* encoder, struct ImaPlayerMark* mark);

/* Frees the encoder; NULL is accepted. */
void ima_encoder_free(ImaEncoder* encoder);

#ifdef __cplusplus
}
#endif

#endif /* WAV2IMA_ADPCM_IMA_ENCODER_H */
