/* ima_player.h: plays the streams wav2ima writes. One header, C99 or C++: no
 * allocation, no division, no floating point, no library call, and correct
 * where int is 16 bits. Include it; there is nothing else to build or link.
 *
 * Stream: one byte per stereo frame, no header, no trailer, 44100 frames a
 * second.
 *
 *   bit    7   6   5   4   3   2   1   0
 *        +---+---+---+---+---+---+---+---+
 *        |   left code   |  right code   |
 *        +---+---+---+---+---+---+---+---+
 *
 *   code bit 3: sign (set = the sample moves down); bits 2..0: magnitude.
 *   Both channels start at predictor 0 and step index 0, and their state
 *   runs on across the whole stream.
 *
 * State: ImaPlayer, 6 bytes (two 16-bit predictors, two 8-bit step indices).
 * Table: 178 bytes, in flash on AVR when built as GNU C.
 * Cost: a frame is two table loads and, a channel, three conditional adds,
 * a sign, two clamps and the step index's move: 108 instructions on a
 * Cortex-M0 at -Os, where the decoder and its table take 518 bytes; 3.7 to
 * 12.7 ns on a 2.1 GHz x86-64 core, by how unpredictable the codes are
 * (docs/player.md and bench/README.md have the commands).
 *
 * A sample is exactly what ima2wav writes for the same stream, however the
 * stream is split across calls. */
#ifndef WAV2IMA_PLAYER_IMA_PLAYER_H
#define WAV2IMA_PLAYER_IMA_PLAYER_H

#include <stddef.h>
#include <stdint.h>

/* Inlined where the compiler allows, even at -Os: a channel's state then
   stays in registers. */
#if defined(__GNUC__)
#define IMA_PLAYER_INLINE static inline __attribute__((always_inline))
#else
#define IMA_PLAYER_INLINE static inline
#endif

/* C++17 keeps one copy of the table in a program and can build other
   tables from the steps at compile time; C keeps a copy per file that reads
   it. AVR's GNU C reads it from flash, where it costs no RAM. */
#if defined(__cplusplus) && __cplusplus >= 201703L
#define IMA_PLAYER_TABLE inline constexpr
#define IMA_PLAYER_RULE constexpr
#elif defined(__AVR__) && defined(__FLASH) && !defined(__STRICT_ANSI__) && !defined(__cplusplus)
#define IMA_PLAYER_TABLE static const __flash
#define IMA_PLAYER_RULE IMA_PLAYER_INLINE
#else
#define IMA_PLAYER_TABLE static const
#define IMA_PLAYER_RULE IMA_PLAYER_INLINE
#endif

/* Set by ima_player_reset and kept by ima_player_decode alone: a step index
   past 88 would read past the table. */
typedef struct ImaPlayer {
  int16_t predictor[2];  /* [0] left, [1] right: the last sample played */
  uint8_t step_index[2]; /* 0..88 */
} ImaPlayer;

/* The step size of each step index 0..88 (the IMA ADPCM standard's table). */
IMA_PLAYER_TABLE uint16_t ima_player_steps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

/* The rest of the header is the decoder's own; wav2ima's encoder and
   ima2wav reconstruct through the same two rules. */

/* How far `code` moves the predictor at `step`: (2 * magnitude + 1) * step / 8,
   rounded down, exactly: the product is the sum of the shifted steps the
   magnitude's bits pick, and no bit is dropped before the last shift. It
   stays below 2^19, so 32 bits hold it where int has 16. */
IMA_PLAYER_RULE uint16_t ima_player_move(uint16_t step, unsigned code) {
  uint32_t product = step;
  if (code & 4u) product += (uint32_t)step << 3;
  if (code & 2u) product += (uint32_t)step << 2;
  if (code & 1u) product += (uint32_t)step << 1;
  return (uint16_t)(product >> 3);
}

/* The step index after `code` at `step_index`, kept within 0..88. The
   standard's moves for magnitudes 0..7 are -1, -1, -1, -1, 2, 4, 6, 8:
   down one below 4, else twice the magnitude less 3 up. */
IMA_PLAYER_RULE uint8_t ima_player_next_step_index(uint8_t step_index, unsigned code) {
  const int magnitude = (int)(code & 7u);
  const int next = magnitude < 4 ? step_index - 1 : step_index + 2 * (magnitude - 3);
  return (uint8_t)(next < 0 ? 0 : next > 88 ? 88 : next);
}

/* Applies one code to one channel: returns the new predictor, sets the step
   index. */
IMA_PLAYER_INLINE int16_t ima_player_apply(int16_t predictor, uint8_t* step_index, unsigned code) {
  const uint16_t move = ima_player_move(ima_player_steps[*step_index], code);
  /* 32 bits: a move reaches 61438, beyond 16-bit int. */
  int32_t next = (code & 8u) ? (int32_t)predictor - move : (int32_t)predictor + move;
  if (next > 32767) next = 32767;
  if (next < -32768) next = -32768;
  *step_index = ima_player_next_step_index(*step_index, code);
  return (int16_t)next;
}

/* Sets both channels to predictor 0 and step index 0: the start of a stream. */
static inline void ima_player_reset(ImaPlayer* player) {
  player->predictor[0] = 0;
  player->predictor[1] = 0;
  player->step_index[0] = 0;
  player->step_index[1] = 0;
}

/* Decodes `count` stream bytes into `count` stereo frames: frames[2k] left,
   frames[2k + 1] right, continuing the state across calls. */
static inline void ima_player_decode(ImaPlayer* player, const uint8_t* stream, size_t count,
                                     int16_t* frames) {
  /* Locals, not the record: a store into the frames, int16_t too, could
     change the record as far as the compiler knows. */
  int16_t left = player->predictor[0];
  int16_t right = player->predictor[1];
  uint8_t left_index = player->step_index[0];
  uint8_t right_index = player->step_index[1];
  size_t i;
  for (i = 0; i < count; ++i) {
    left = ima_player_apply(left, &left_index, (unsigned)(stream[i] >> 4));
    right = ima_player_apply(right, &right_index, stream[i] & 15u);
    frames[2 * i] = left;
    frames[2 * i + 1] = right;
  }
  player->predictor[0] = left;
  player->predictor[1] = right;
  player->step_index[0] = left_index;
  player->step_index[1] = right_index;
}

#endif /* WAV2IMA_PLAYER_IMA_PLAYER_H */
