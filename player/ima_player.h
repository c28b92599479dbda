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
 * Table: 178 bytes, in flash on AVR (C and C++).
 * Cost: a frame is two table loads and, a channel, three conditional adds,
 * a sign, two clamps and the step index's move: 108 instructions on a
 * Cortex-M0 at -Os, where the decoder and its table take 530 bytes; at most
 * 231 cycles on an ATmega328p (one-frame calls); 3.7 to 12.7 ns on a 2.1 GHz
 * x86-64 core, by how unpredictable the codes are (docs/player.md and
 * bench/README.md have the commands).
 *
 * A sample is exactly what ima2wav writes for the same stream, however the
 * stream is split across calls. */
#ifndef WAV2IMA_PLAYER_IMA_PLAYER_H
#define WAV2IMA_PLAYER_IMA_PLAYER_H

#if !defined(__cplusplus) && (!defined(__STDC_VERSION__) || __STDC_VERSION__ < 199901L)
#error "ima_player.h needs C99 or later (or C++): build with -std=c99, gnu99 or newer"
#else

/* The project's version; its build reads it from here. */
#define IMA_PLAYER_VERSION_MAJOR 1
#define IMA_PLAYER_VERSION_MINOR 0
#define IMA_PLAYER_VERSION_PATCH 0

#include <stddef.h>
#include <stdint.h>

#if defined(__AVR__)
#include <avr/pgmspace.h>
#endif

/* C++ warns of C's casts (-Wold-style-cast). */
#if defined(__cplusplus)
#define IMA_PLAYER_CAST(type, value) static_cast<type>(value)
#else
#define IMA_PLAYER_CAST(type, value) ((type)(value))
#endif

/* Inlined where the compiler allows, even at -Os: a channel's state then
   stays in registers. */
#if defined(__GNUC__)
#define IMA_PLAYER_INLINE static inline __attribute__((always_inline))
#else
#define IMA_PLAYER_INLINE static inline
#endif

/* On AVR the table stays in flash, where it costs no RAM, and is read
   with lpm, in C and C++ alike. C++17 keeps one copy of the table in a
   program and can build other tables from the steps at compile time; C
   keeps a copy per file that reads it. */
#if defined(__AVR__)
#define IMA_PLAYER_TABLE static const PROGMEM
#define IMA_PLAYER_RULE IMA_PLAYER_INLINE
#define IMA_PLAYER_STEP(index) pgm_read_word(&ima_player_steps[index])
#elif defined(__cplusplus) && __cplusplus >= 201703L
#define IMA_PLAYER_TABLE inline constexpr
#define IMA_PLAYER_RULE constexpr
#define IMA_PLAYER_STEP(index) ima_player_steps[index]
#else
#define IMA_PLAYER_TABLE static const
#define IMA_PLAYER_RULE IMA_PLAYER_INLINE
#define IMA_PLAYER_STEP(index) ima_player_steps[index]
#endif

/* A stream's decoder state. Every stream starts from ima_player_reset; a copy
   of the record taken between calls is the state there, so restoring it
   (plain assignment) plays on from that frame: a loop or a seek. A step
   index past 88, from a record never reset or overwritten, plays as 88. */
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
  if (code & 4u) product += IMA_PLAYER_CAST(uint32_t, step) << 3;
  if (code & 2u) product += IMA_PLAYER_CAST(uint32_t, step) << 2;
  if (code & 1u) product += IMA_PLAYER_CAST(uint32_t, step) << 1;
  return IMA_PLAYER_CAST(uint16_t, product >> 3);
}

/* The same move in 16-bit arithmetic, for processors without a 32-bit add
   (AVR): with step = 8q + r, (2m + 1) * step / 8 is (2m + 1) * q plus
   (2m + 1) * r / 8, the first below 2^16, the second below 2^8. */
IMA_PLAYER_RULE uint16_t ima_player_move_narrow(uint16_t step, uint8_t code) {
  const uint8_t odd = IMA_PLAYER_CAST(uint8_t, (code & 7u) << 1 | 1u);
  const uint8_t fraction = IMA_PLAYER_CAST(uint8_t, IMA_PLAYER_CAST(uint8_t, step & 7u) * odd);
  /* fraction / 8 as the high byte of fraction * 32: one multiply, where
     avr-gcc's C++ shifts a widened byte bit by bit. */
  const uint8_t eighths = IMA_PLAYER_CAST(uint8_t, IMA_PLAYER_CAST(uint16_t, fraction * 32u) >> 8);
  return IMA_PLAYER_CAST(uint16_t, (step >> 3) * odd + eighths);
}

/* The step index after `code` at `step_index`, kept within 0..88. The
   standard's moves for magnitudes 0..7 are -1, -1, -1, -1, 2, 4, 6, 8:
   down one below 4, else twice the magnitude less 3 up. */
IMA_PLAYER_RULE uint8_t ima_player_next_step_index(uint8_t step_index, unsigned code) {
  const int magnitude = IMA_PLAYER_CAST(int, code & 7u);
  const int next = magnitude < 4 ? step_index - 1 : step_index + 2 * (magnitude - 3);
  return IMA_PLAYER_CAST(uint8_t, next < 0 ? 0 : next > 88 ? 88 : next);
}

/* Applies one code to one channel: returns the new predictor, sets the step
   index. */
#if defined(__AVR__)
/* In 8 and 16 bits: the predictor offset by 32768 runs 0..65535, where a
   move that would pass a clamp is seen before it is made. */
IMA_PLAYER_INLINE int16_t ima_player_apply(int16_t predictor, uint8_t* step_index, uint8_t code) {
  const uint8_t magnitude = code & 7u;
  const uint16_t move = ima_player_move_narrow(IMA_PLAYER_STEP(*step_index), code);
  uint16_t offset = IMA_PLAYER_CAST(uint16_t, predictor) ^ 0x8000u;
  uint8_t next_index = *step_index;
  if (code & 8u) {
    offset = offset > move ? IMA_PLAYER_CAST(uint16_t, offset - move) : 0u;
  } else {
    offset = IMA_PLAYER_CAST(uint16_t, 0xFFFFu - offset) > move
                 ? IMA_PLAYER_CAST(uint16_t, offset + move)
                 : 0xFFFFu;
  }
  if (magnitude < 4) {
    if (next_index != 0) --next_index;
  } else {
    next_index = IMA_PLAYER_CAST(uint8_t, next_index + 2 * magnitude - 6);
    if (next_index > 88) next_index = 88;
  }
  *step_index = next_index;
  /* avr-gcc keeps the low 16 bits. */
  return IMA_PLAYER_CAST(int16_t, offset ^ 0x8000u);
}
#else
IMA_PLAYER_INLINE int16_t ima_player_apply(int16_t predictor, uint8_t* step_index, unsigned code) {
  const uint16_t move = ima_player_move(IMA_PLAYER_STEP(*step_index), code);
  /* 32 bits: a move reaches 61438, beyond 16-bit int. */
  int32_t next = (code & 8u) ? IMA_PLAYER_CAST(int32_t, predictor) - move
                             : IMA_PLAYER_CAST(int32_t, predictor) + move;
  if (next > 32767) next = 32767;
  if (next < -32768) next = -32768;
  *step_index = ima_player_next_step_index(*step_index, code);
  return IMA_PLAYER_CAST(int16_t, next);
}
#endif

/* Sets both channels to predictor 0 and step index 0: the start of a stream. */
static inline void ima_player_reset(ImaPlayer* player) {
  player->predictor[0] = 0;
  player->predictor[1] = 0;
  player->step_index[0] = 0;
  player->step_index[1] = 0;
}

/* A call's working state: locals, not the record, because a store into the
   frames, int16_t too, could change the record as far as the compiler
   knows. Loading brings a step index into range. */
typedef struct ImaPlayerRun {
  int16_t left;
  int16_t right;
  uint8_t left_index;
  uint8_t right_index;
} ImaPlayerRun;

IMA_PLAYER_INLINE ImaPlayerRun ima_player_load(const ImaPlayer* player) {
  ImaPlayerRun run;
  run.left = player->predictor[0];
  run.right = player->predictor[1];
  run.left_index = player->step_index[0] > 88 ? 88 : player->step_index[0];
  run.right_index = player->step_index[1] > 88 ? 88 : player->step_index[1];
  return run;
}

IMA_PLAYER_INLINE void ima_player_store(ImaPlayer* player, const ImaPlayerRun* run) {
  player->predictor[0] = run->left;
  player->predictor[1] = run->right;
  player->step_index[0] = run->left_index;
  player->step_index[1] = run->right_index;
}

/* A code in a byte on AVR, in an unsigned int elsewhere, where a byte costs
   a widening at each use. */
#if defined(__AVR__)
IMA_PLAYER_INLINE void ima_player_frame(ImaPlayerRun* run, uint8_t byte) {
  const uint8_t left_code = __builtin_avr_swap(byte) & 15u; /* one instruction */
#else
IMA_PLAYER_INLINE void ima_player_frame(ImaPlayerRun* run, unsigned byte) {
  const unsigned left_code = byte >> 4;
#endif
  run->left = ima_player_apply(run->left, &run->left_index, left_code);
  run->right = ima_player_apply(run->right, &run->right_index, byte & 15u);
}

/* Decodes `count` stream bytes into `count` stereo frames: frames[2k] left,
   frames[2k + 1] right, continuing the state across calls. */
static inline void ima_player_decode(ImaPlayer* player, const uint8_t* stream, size_t count,
                                     int16_t* frames) {
  ImaPlayerRun run = ima_player_load(player);
  size_t i;
  for (i = 0; i < count; ++i) {
    ima_player_frame(&run, stream[i]);
    frames[2 * i] = run.left;
    frames[2 * i + 1] = run.right;
  }
  ima_player_store(player, &run);
}

/* Advances the state over `count` stream bytes as ima_player_decode would,
   writing no sample: to enter a stream part way, from its start or from a
   state saved earlier. */
static inline void ima_player_skip(ImaPlayer* player, const uint8_t* stream, size_t count) {
  ImaPlayerRun run = ima_player_load(player);
  size_t i;
  for (i = 0; i < count; ++i)
    ima_player_frame(&run, stream[i]);
  ima_player_store(player, &run);
}

/* A mark: the state after the stream's first `frame` bytes, which imaenc
   writes (--marks, --loop) so that a player enters a stream there, or loops
   back to there, without decoding what comes before. */
typedef struct ImaPlayerMark {
  uint32_t frame;
  ImaPlayer state;
} ImaPlayerMark;

/* Restores the state of the last mark at or before `frame` (marks sorted by
   frame) and returns that mark's frame; with none, resets the state and
   returns 0. The caller skips (ima_player_skip) from there to `frame`,
   reading the stream from byte `frame`. */
static inline uint32_t ima_player_seek(ImaPlayer* player, const ImaPlayerMark* marks, size_t count,
                                       uint32_t frame) {
  size_t i;
  ima_player_reset(player);
  for (i = count; i > 0; --i) {
    if (marks[i - 1].frame <= frame) {
      /* Field by field: a record copy may become a call to memcpy. */
      player->predictor[0] = marks[i - 1].state.predictor[0];
      player->predictor[1] = marks[i - 1].state.predictor[1];
      player->step_index[0] = marks[i - 1].state.step_index[0];
      player->step_index[1] = marks[i - 1].state.step_index[1];
      return marks[i - 1].frame;
    }
  }
  return 0;
}

#if defined(__AVR__)
/* ima_player_decode for a stream in program memory below 64 KiB (PROGMEM,
   __flash), as avr-libc's own _P functions. */
static inline void ima_player_decode_P(ImaPlayer* player, const uint8_t* stream, size_t count,
                                       int16_t* frames) {
  ImaPlayerRun run = ima_player_load(player);
  size_t i;
  for (i = 0; i < count; ++i) {
    ima_player_frame(&run, pgm_read_byte(stream + i));
    frames[2 * i] = run.left;
    frames[2 * i + 1] = run.right;
  }
  ima_player_store(player, &run);
}

/* ima_player_skip for a stream in program memory below 64 KiB. */
static inline void ima_player_skip_P(ImaPlayer* player, const uint8_t* stream, size_t count) {
  ImaPlayerRun run = ima_player_load(player);
  size_t i;
  for (i = 0; i < count; ++i)
    ima_player_frame(&run, pgm_read_byte(stream + i));
  ima_player_store(player, &run);
}

/* ima_player_seek for marks in program memory below 64 KiB. */
static inline uint32_t ima_player_seek_P(ImaPlayer* player, const ImaPlayerMark* marks,
                                         size_t count, uint32_t frame) {
  size_t i;
  ima_player_reset(player);
  for (i = count; i > 0; --i) {
    const uint32_t at = pgm_read_dword(&marks[i - 1].frame);
    if (at <= frame) {
      const ImaPlayer* state = &marks[i - 1].state;
      player->predictor[0] = IMA_PLAYER_CAST(int16_t, pgm_read_word(&state->predictor[0]));
      player->predictor[1] = IMA_PLAYER_CAST(int16_t, pgm_read_word(&state->predictor[1]));
      player->step_index[0] = pgm_read_byte(&state->step_index[0]);
      player->step_index[1] = pgm_read_byte(&state->step_index[1]);
      return at;
    }
  }
  return 0;
}

#if defined(__AVR_HAVE_ELPM__)
/* ima_player_decode for a stream anywhere in flash, at a 32-bit byte
   address (pgm_get_far_address), as avr-libc's own _PF functions. */
static inline void ima_player_decode_PF(ImaPlayer* player, uint_farptr_t stream, size_t count,
                                        int16_t* frames) {
  ImaPlayerRun run = ima_player_load(player);
  size_t i;
  for (i = 0; i < count; ++i) {
    ima_player_frame(&run, pgm_read_byte_far(stream + i));
    frames[2 * i] = run.left;
    frames[2 * i + 1] = run.right;
  }
  ima_player_store(player, &run);
}
#endif
#endif

#endif /* C99 or C++ */
#endif /* WAV2IMA_PLAYER_IMA_PLAYER_H */
