/* The player check on a board: the generated streams and the bundled
   example's stream, built into flash, played with the player; the board's
   file says how a line goes out and how the run ends. */
#include <stddef.h>
#include <stdint.h>

#include "player/ima_player.h"
#include "tests/player/streams.h"

/* AVR reaches flash past 64 KiB through 24-bit pointers. */
#ifdef __AVR__
#define EXAMPLE_ROM __memx
#else
#define EXAMPLE_ROM
#endif
#include "example_stream.h"

void device_print(const char* line);
void device_exit(void);

#ifndef __AVR__
typedef struct ExamplePosition {
  uint8_t part;
  uint16_t offset;
} ExamplePosition;

static size_t fill_example(void* source, uint8_t* out, size_t room) {
  ExamplePosition* at = (ExamplePosition*)source;
  size_t n = 0;
  while (n < room && at->part < kExampleParts) {
    out[n++] = example_parts[at->part][at->offset];
    if (++at->offset == example_part_sizes[at->part]) {
      at->offset = 0;
      ++at->part;
    }
  }
  return n;
}
#endif

/* The stream imaenc --c-array wrote, played from where the header puts it:
   flash on both boards, read by the player's _P decoder on AVR. */
#include "asset.h"

enum { kLongestCall = 61 };

static void print_digest(const char* name, const Digest* digest) {
  char line[64];
  digest_line(name, digest, line);
  device_print(line);
}

static void play_asset(void) {
  ImaPlayer player;
  Digest digest;
  int16_t frames[2 * kLongestCall];
  uint32_t at = 0;
  size_t call = 0;
  ima_player_reset(&player);
  digest_start(&digest);
  while (at < asset_FRAMES) {
    size_t n = call % kLongestCall + 1;
    call = n;
    if (n > asset_FRAMES - at) n = (size_t)(asset_FRAMES - at);
#ifdef __AVR__
    ima_player_decode_P(&player, asset + at, n, frames);
#else
    ima_player_decode(&player, asset + at, n, frames);
#endif
    digest_frames(&digest, frames, n);
    at += n;
  }
  print_digest("asset", &digest);
}

/* The asset's marks and loop, on the board itself: every mark, with a
   frame after it, seeks, skips and decodes to the end what a decode from
   the first byte plays from there; the loop, after the intro, plays the
   same on each pass back through the mark at its start. */
#ifdef __AVR__
#define ASSET_DECODE ima_player_decode_P
#define ASSET_SKIP ima_player_skip_P
#define ASSET_SEEK ima_player_seek_P
#define MARK_FRAME(i) pgm_read_dword(&asset_marks[i].frame)
#else
#define ASSET_DECODE ima_player_decode
#define ASSET_SKIP ima_player_skip
#define ASSET_SEEK ima_player_seek
#define MARK_FRAME(i) asset_marks[i].frame
#endif

/* Decodes from `at` to `end`, the digest of the frames from `from` on. */
static uint32_t digest_span(ImaPlayer* player, uint32_t at, uint32_t from, uint32_t end) {
  int16_t frames[2 * kLongestCall];
  Digest digest;
  digest_start(&digest);
  while (at < end) {
    const size_t n = end - at < kLongestCall ? (size_t)(end - at) : kLongestCall;
    ASSET_DECODE(player, asset + at, n, frames);
    if (at + n > from) {
      const size_t first = at >= from ? 0 : (size_t)(from - at);
      digest_frames(&digest, frames + 2 * first, n - first);
    }
    at += (uint32_t)n;
  }
  return digest.hash;
}

static void check_marks(void) {
  ImaPlayer player;
  uint32_t i;
  uint32_t loop_pass;
  int good = 1;
  char line[64];
  Digest count;
  for (i = 0; i < asset_MARKS; ++i) {
    const uint32_t mark = MARK_FRAME(i);
    const uint32_t target = mark + (mark * 7919u + 13u) % (asset_FRAMES - mark);
    uint32_t want;
    uint32_t from;
    ima_player_reset(&player);
    want = digest_span(&player, 0, target, asset_FRAMES);
    from = ASSET_SEEK(&player, asset_marks, asset_MARKS, target);
    ASSET_SKIP(&player, asset + from, target - from);
    if (from > target || digest_span(&player, target, target, asset_FRAMES) != want) good = 0;
  }
  ima_player_reset(&player);
  ASSET_SKIP(&player, asset, asset_LOOP_START);
  loop_pass = digest_span(&player, asset_LOOP_START, asset_LOOP_START, asset_LOOP_END);
  for (i = 0; i < 2; ++i) {
    if (ASSET_SEEK(&player, asset_marks, asset_MARKS, asset_LOOP_START) != asset_LOOP_START ||
        digest_span(&player, asset_LOOP_START, asset_LOOP_START, asset_LOOP_END) != loop_pass) {
      good = 0;
    }
  }
  /* "asset_marks MARKS ok": a digest line's form, with the count. */
  count.frames = asset_MARKS;
  count.hash = 0;
  digest_line(good ? "asset_marks_ok" : "asset_marks_wrong", &count, line);
  device_print(line);
}

#ifdef __AVR__
/* The example, past 64 KiB of flash, read by the player's _PF decoder from
   each part's far address. */
static void play_example_far(void) {
  ImaPlayer player;
  Digest digest;
  int16_t frames[2 * kLongestCall];
  size_t call = 0;
  uint8_t part;
  ima_player_reset(&player);
  digest_start(&digest);
  for (part = 0; part < kExampleParts; ++part) {
    const uint_farptr_t start = (uint_farptr_t)(__uint24)example_parts[part];
    uint16_t at = 0;
    while (at < example_part_sizes[part]) {
      size_t n = call % kLongestCall + 1;
      call = n;
      if (n > (size_t)(example_part_sizes[part] - at)) n = example_part_sizes[part] - at;
      ima_player_decode_PF(&player, start + at, n, frames);
      digest_frames(&digest, frames, n);
      at = (uint16_t)(at + n);
    }
  }
  print_digest("example", &digest);
}
#endif

int main(void) {
#ifdef __AVR__
  check_streams(NULL, NULL, device_print);
  play_example_far();
#else
  ExamplePosition example = {0, 0};
  check_streams(fill_example, &example, device_print);
#endif
  play_asset();
  check_marks();
  device_exit();
  return 0;
}
