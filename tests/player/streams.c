#include "tests/player/streams.h"

#include "player/ima_player.h"

/* Codes only steer a channel: a move of the step index by one down
   (magnitude 0) or two up (magnitude 4). */
enum { kDownOne = 0, kUpTwo = 4, kSign = 8, kStepIndexMax = 88 };
enum { kStreamSeconds = 44100, kSquareLeftRun = 300, kSquareRightRun = 211, kLongestCall = 61 };

/* How far each magnitude moves the step index: the standard's numbers,
   written here again so that the steering does not lean on the header it
   tests. */
static const int8_t kIndexMoves[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

static uint8_t follow(uint8_t step_index, unsigned code) {
  const int next = step_index + kIndexMoves[code & 7u];
  return (uint8_t)(next < 0 ? 0 : next > kStepIndexMax ? kStepIndexMax : next);
}

const char* stream_name(int kind) {
  static const char* const names[kGeneratedStreams] = {"every_state", "silence", "squares"};
  return names[kind];
}

void generator_start(Generator* generator, int kind) {
  generator->kind = kind;
  generator->made = 0;
  generator->step_index[0] = 0;
  generator->step_index[1] = 0;
  generator->steered = 0;
  generator->target = 0;
  generator->byte = 0;
  generator->sign = 0;
}

/* Every byte value played with the left channel at each step index 0..88,
   then with the right one there: between two such bytes the steered channel
   is brought back to its next step index, the other towards it, with codes
   of alternating sign so that the predictors wander and meet their clamps
   at the large steps. Returns -1 at the end. */
static int next_every_state(Generator* g) {
  unsigned byte;
  if (g->steered == 2) return -1;
  if (g->step_index[g->steered] != g->target) {
    const unsigned sign = g->sign ? (unsigned)kSign : 0u;
    const unsigned left = (g->step_index[0] > g->target ? kDownOne : kUpTwo) | sign;
    const unsigned right = (g->step_index[1] > g->target ? kDownOne : kUpTwo) | (sign ^ kSign);
    byte = left << 4 | right;
    g->sign ^= 1;
  } else {
    byte = g->byte;
    if (++g->byte == 256) {
      g->byte = 0;
      if (++g->target > kStepIndexMax) {
        g->target = 0;
        ++g->steered;
      }
    }
  }
  g->step_index[0] = follow(g->step_index[0], byte >> 4);
  g->step_index[1] = follow(g->step_index[1], byte & 15u);
  return (int)byte;
}

/* The largest codes in runs, up then down, of other lengths on each side:
   both predictors swing between the clamps at step index 88. */
static int next_square(const Generator* g) {
  const unsigned left = (g->made / kSquareLeftRun) % 2 ? 15u : 7u;
  const unsigned right = (g->made / kSquareRightRun) % 2 ? 7u : 15u;
  return (int)(left << 4 | right);
}

size_t generator_fill(void* source, uint8_t* out, size_t room) {
  Generator* g = (Generator*)source;
  size_t n;
  for (n = 0; n < room; ++n) {
    int byte;
    if (g->kind == kEveryState) {
      byte = next_every_state(g);
    } else if (g->made == kStreamSeconds) {
      byte = -1;
    } else {
      byte = g->kind == kSilence ? 0 : next_square(g);
    }
    if (byte < 0) break;
    out[n] = (uint8_t)byte;
    ++g->made;
  }
  return n;
}

void digest_start(Digest* digest) {
  digest->hash = 2166136261u;
  digest->frames = 0;
}

void digest_bytes(Digest* digest, const uint8_t* bytes, size_t count) {
  size_t i;
  for (i = 0; i < count; ++i) {
    digest->hash ^= bytes[i];
    digest->hash *= 16777619u;
  }
}

void digest_frames(Digest* digest, const int16_t* frames, size_t count) {
  size_t i;
  for (i = 0; i < 2 * count; ++i) {
    const uint16_t sample = (uint16_t)frames[i];
    const uint8_t bytes[2] = {(uint8_t)(sample & 255u), (uint8_t)(sample >> 8)};
    digest_bytes(digest, bytes, 2);
  }
  digest->frames += (uint32_t)count;
}

void digest_line(const char* name, const Digest* digest, char* line) {
  static const char hex[] = "0123456789abcdef";
  char digits[10];
  int n = 0;
  int shift;
  uint32_t frames = digest->frames;
  while (*name)
    *line++ = *name++;
  *line++ = ' ';
  do {
    digits[n++] = (char)('0' + frames % 10);
    frames /= 10;
  } while (frames != 0);
  while (n > 0)
    *line++ = digits[--n];
  *line++ = ' ';
  for (shift = 28; shift >= 0; shift -= 4)
    *line++ = hex[(digest->hash >> shift) & 15u];
  *line++ = '\n';
  *line = '\0';
}

static void play(const char* name, StreamFill fill, void* source, void (*print)(const char*)) {
  ImaPlayer player;
  Digest digest;
  uint8_t bytes[kLongestCall];
  int16_t frames[2 * kLongestCall];
  char line[64];
  size_t call = 0;
  size_t got;
  ima_player_reset(&player);
  digest_start(&digest);
  /* Calls of every length from 1 to 61 bytes in turn: the state must run
     on across every boundary. */
  for (;;) {
    call = call % kLongestCall + 1;
    got = fill(source, bytes, call);
    if (got == 0) break;
    ima_player_decode(&player, bytes, got, frames);
    digest_frames(&digest, frames, got);
  }
  digest_line(name, &digest, line);
  print(line);
}

void check_streams(StreamFill example_fill, void* example, void (*print)(const char* line)) {
  Generator generator;
  int kind;
  for (kind = 0; kind < kGeneratedStreams; ++kind) {
    generator_start(&generator, kind);
    play(stream_name(kind), generator_fill, &generator, print);
  }
  if (example_fill != NULL) play("example", example_fill, example, print);
}
