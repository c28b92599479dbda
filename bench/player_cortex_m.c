/* Instructions per frame of ima_player_decode on the Cortex-M0, run under
   qemu-system-arm -icount shift=0, where each instruction takes one
   nanosecond of the board's time: SysTick, on the processor's clock, counts
   a loop of known length and then the decoding of the bundled example's
   first 30,000 bytes, in calls of 2,000 (the board has 16 KiB of RAM). */
#include <stddef.h>
#include <stdint.h>

#include "player/ima_player.h"

#define EXAMPLE_ROM
#include "example_stream.h"

void device_print(const char* line);
void device_exit(void);

enum { kCalibrationLoops = 1000000, kInstructionsPerLoop = 2, kFrames = 30000, kCall = 2000 };

#define SYST_CSR (*(volatile uint32_t*)0xE000E010u)
#define SYST_RVR (*(volatile uint32_t*)0xE000E014u)
#define SYST_CVR (*(volatile uint32_t*)0xE000E018u)

static int16_t frames[2 * kCall];

static uint32_t ticks_since(uint32_t start) {
  return (start - SYST_CVR) & 0xFFFFFFu;
}

/* "LABEL" and hundredths as a decimal, "108.25". */
static void print_hundredths(const char* label, uint32_t hundredths) {
  char line[80];
  char digits[10];
  int n = 0;
  int at = 0;
  uint32_t whole = hundredths / 100;
  while (*label)
    line[at++] = *label++;
  do {
    digits[n++] = (char)('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  while (n > 0)
    line[at++] = digits[--n];
  line[at++] = '.';
  line[at++] = (char)('0' + hundredths / 10 % 10);
  line[at++] = (char)('0' + hundredths % 10);
  line[at++] = '\n';
  line[at] = '\0';
  device_print(line);
}

int main(void) {
  ImaPlayer player;
  uint32_t start;
  uint32_t loop_ticks;
  uint32_t decode_ticks;
  uint32_t count = kCalibrationLoops;
  SYST_RVR = 0xFFFFFFu;
  SYST_CVR = 0;
  SYST_CSR = 5; /* on, the processor's clock, no interrupt */
  start = SYST_CVR;
  __asm__ volatile(".syntax unified\n1: subs %0, %0, #1\n bne 1b" : "+l"(count));
  loop_ticks = ticks_since(start);
  ima_player_reset(&player);
  start = SYST_CVR;
  for (size_t at = 0; at < kFrames; at += kCall) {
    ima_player_decode(&player, example_part_0 + at, kCall, frames);
  }
  decode_ticks = ticks_since(start);
  /* Hundredths of an instruction: ticks * (instructions per tick) / frames. */
  print_hundredths("ima_player_decode on Cortex-M0 at -Os, instructions a frame: ",
                   (uint32_t)((uint64_t)decode_ticks * kCalibrationLoops * kInstructionsPerLoop *
                              100 / loop_ticks / kFrames));
  device_exit();
  return 0;
}
