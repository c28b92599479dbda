/* Runs a C snippet of docs/player.md, extracted to snippet.c, against the
   header's own decoding of the same stream: built once a snippet with
   -DSNIPPET_NAME and the sanitizers, so a snippet that reads past its
   stream or plays other samples fails. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ima_player.h"

#if defined(SNIPPET_timer)
static uint16_t DAC_LEFT;
static uint16_t DAC_RIGHT;
#endif

#include "snippet.c"

enum { kBytes = 1000, kLoopStart = 300, kLoopEnd = 700, kSeek = 500 };

static int16_t want[2 * kBytes];
static int failures;

static void expect_frames(const char* what, const int16_t* got, const int16_t* expected,
                          size_t frames) {
  if (memcmp(got, expected, 4 * frames) != 0) {
    printf("%s: other samples than the decoder's\n", what);
    ++failures;
  }
}

int main(void) {
  /* Exactly the stream's bytes on the heap: a read past it is caught. */
  uint8_t* bytes = malloc(kBytes);
  int16_t* frames = calloc(2 * (kBytes + 2 * kLoopEnd), sizeof *frames);
  size_t i;
  ImaPlayer reference;
  if (bytes == NULL || frames == NULL) return 1;
  for (i = 0; i < kBytes; ++i)
    bytes[i] = (uint8_t)(i * 0x35u + 7u);
  ima_player_reset(&reference);
  ima_player_decode(&reference, bytes, kBytes, want);
#if defined(SNIPPET_start)
  play(bytes, kBytes, frames);
  expect_frames("start", frames, want, kBytes);
#elif defined(SNIPPET_dma)
  /* Halves until past the end: the stream, then silence. */
  ima_player_reset(&player);
  next = bytes;
  left = kBytes;
  for (i = 0; i < kBytes + 2 * HALF; i += 2 * HALF) {
    dma_half_done();
    dma_all_done();
    memcpy(frames + 2 * i, pcm, sizeof pcm);
  }
  expect_frames("dma", frames, want, kBytes);
  for (i = 2 * kBytes; i < 2 * (kBytes + HALF); ++i) {
    if (frames[i] != 0) {
      puts("dma: no silence after the end");
      ++failures;
      break;
    }
  }
#elif defined(SNIPPET_timer)
  (void)expect_frames;
  ima_player_reset(&player);
  stream = bytes;
  stream_bytes = kBytes;
  for (i = 0; i < kBytes + 10; ++i) {
    const int16_t left_sample = i < kBytes ? want[2 * i] : 0;
    const int16_t right_sample = i < kBytes ? want[2 * i + 1] : 0;
    timer_tick();
    if (DAC_LEFT != (uint16_t)(left_sample + 32768) >> 4 ||
        DAC_RIGHT != (uint16_t)(right_sample + 32768) >> 4) {
      printf("timer: other samples at frame %u\n", (unsigned)i);
      ++failures;
      break;
    }
  }
#elif defined(SNIPPET_loop)
  play_looped(bytes, kLoopStart, kLoopEnd, frames);
  expect_frames("loop: the intro and the loop", frames, want, kLoopEnd);
  expect_frames("loop: the loop again", frames + 2 * kLoopEnd, want + 2 * kLoopStart,
                kLoopEnd - kLoopStart);
  play_from(bytes, kSeek, kBytes - kSeek, frames);
  expect_frames("seek", frames, want + 2 * kSeek, kBytes - kSeek);
  {
    ImaPlayerMark marks[4];
    for (i = 0; i < 4; ++i) {
      marks[i].frame = (uint32_t)(i * 256);
      ima_player_reset(&marks[i].state);
      ima_player_skip(&marks[i].state, bytes, marks[i].frame);
    }
    play_from_mark(bytes, marks, 4, kSeek, kBytes - kSeek, frames);
    expect_frames("seek from a mark", frames, want + 2 * kSeek, kBytes - kSeek);
  }
#elif defined(SNIPPET_marks)
  {
    /* A mark at frame 0 and at the loop's start; the intro and the loop, then
       the loop twice more, in calls of 77 frames. */
    ImaPlayerMark marks[2];
    ImaPlayer player;
    uint32_t at = 0;
    size_t done;
    marks[0].frame = 0;
    marks[1].frame = kLoopStart;
    ima_player_reset(&marks[0].state);
    ima_player_reset(&marks[1].state);
    ima_player_skip(&marks[1].state, bytes, kLoopStart);
    ima_player_reset(&player);
    for (done = 0; done < kLoopEnd + 2 * (kLoopEnd - kLoopStart); done += 77) {
      const size_t n = kLoopEnd + 2 * (kLoopEnd - kLoopStart) - done < 77
                           ? kLoopEnd + 2 * (kLoopEnd - kLoopStart) - done
                           : 77;
      play_looping(&player, bytes, marks, 2, kLoopStart, kLoopEnd, &at, frames + 2 * done, n);
    }
    expect_frames("marks: the intro and the loop", frames, want, kLoopEnd);
    expect_frames("marks: the loop again", frames + 2 * kLoopEnd, want + 2 * kLoopStart,
                  kLoopEnd - kLoopStart);
    expect_frames("marks: and again", frames + 2 * (2 * kLoopEnd - kLoopStart),
                  want + 2 * kLoopStart, kLoopEnd - kLoopStart);
  }
#else
#error "build with -DSNIPPET_NAME"
#endif
  free(bytes);
  free(frames);
  return failures == 0 ? 0 : 1;
}
