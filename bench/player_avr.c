/* Cycles a stereo frame of the player on an ATmega328p (an Arduino Uno's
   chip) at 16 MHz, under simavr: Timer1 counts the CPU clock, read around
   each call. Three streams of 256 bytes (silence, white noise, full-scale
   squares whose codes hold both predictors at the clamps), each decoded
   from RAM and from flash, in calls of one frame (an interrupt's) and of 64
   frames, four times over so the state is warm. Prints one line a case:
   "SOURCE STREAM FRAMES_A_CALL CYCLES_A_FRAME". bench/player_avr.sh builds
   and runs it. */
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/sleep.h>
#include <stdint.h>
#include <string.h>

#include "player/ima_player.h"

enum { kStreamBytes = 256, kPasses = 4, kLongCall = 64 };

/* 0x77 and 0xFF: the largest code up, then down, on both channels. */
#define KEEP8(x) x, x, x, x, x, x, x, x
#define KEEP32(x) KEEP8(x), KEEP8(x), KEEP8(x), KEEP8(x)
#define SWING KEEP32(0x77), KEEP32(0xFF)
static const uint8_t kSquares[kStreamBytes] PROGMEM = {SWING, SWING, SWING, SWING};
static const uint8_t kSilence[kStreamBytes] PROGMEM = {0};
#include "player_avr_noise.h" /* kNoise, written by player_avr.sh */

static uint8_t ram_stream[kStreamBytes];
static int16_t frames[2 * kLongCall];

static void put(char c) {
  while (!(UCSR0A & (1 << UDRE0))) {
  }
  UDR0 = (uint8_t)c;
}

static void print(const char* text) {
  while (*text)
    put(*text++);
}

/* A decimal with one digit after the point. */
static void print_tenths(uint32_t tenths) {
  char digits[12];
  int n = 0;
  uint32_t whole = tenths / 10;
  do {
    digits[n++] = (char)('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  while (n > 0)
    put(digits[--n]);
  put('.');
  put((char)('0' + tenths % 10));
}

/* Timer1's count from `start`: a call takes far fewer than 65536 cycles. */
static uint16_t since(uint16_t start) {
  return (uint16_t)(TCNT1 - start);
}

/* Cycles of reading the timer twice, taken off each call. */
static uint16_t timer_cost(void) {
  const uint16_t start = TCNT1;
  return since(start);
}

/* Two loops, not one with a choice: the timed span holds the call alone. */
static uint32_t decode_ram(uint8_t per_call, uint16_t overhead) {
  uint32_t cycles = 0;
  ImaPlayer player;
  ima_player_reset(&player);
  for (uint8_t pass = 0; pass < kPasses; ++pass) {
    for (uint16_t at = 0; at < kStreamBytes; at += per_call) {
      const uint16_t start = TCNT1;
      ima_player_decode(&player, ram_stream + at, per_call, frames);
      cycles += (uint16_t)(since(start) - overhead);
    }
  }
  return cycles;
}

static uint32_t decode_flash(const uint8_t* stream, uint8_t per_call, uint16_t overhead) {
  uint32_t cycles = 0;
  ImaPlayer player;
  ima_player_reset(&player);
  for (uint8_t pass = 0; pass < kPasses; ++pass) {
    for (uint16_t at = 0; at < kStreamBytes; at += per_call) {
      const uint16_t start = TCNT1;
      ima_player_decode_P(&player, stream + at, per_call, frames);
      cycles += (uint16_t)(since(start) - overhead);
    }
  }
  return cycles;
}

static void report(const char* source, const char* name, uint8_t per_call, uint32_t cycles) {
  print(source);
  put(' ');
  print(name);
  print(per_call == 1 ? " 1 " : " 64 ");
  /* Tenths of a cycle a frame, rounded. */
  print_tenths((cycles * 10 + kPasses * kStreamBytes / 2) / (kPasses * kStreamBytes));
  put('\n');
}

int main(void) {
  static const uint8_t* const streams[] = {kSilence, kNoise, kSquares};
  static const char* const names[] = {"silence", "noise", "squares"};
  static const uint8_t calls[] = {1, kLongCall};
  TCCR1A = 0;
  TCCR1B = 1 << CS10; /* the CPU clock, undivided */
  const uint16_t overhead = timer_cost();
  for (uint8_t s = 0; s < 3; ++s) {
    memcpy_P(ram_stream, streams[s], kStreamBytes);
    for (uint8_t c = 0; c < 2; ++c) {
      report("ram", names[s], calls[c], decode_ram(calls[c], overhead));
      report("flash", names[s], calls[c], decode_flash(streams[s], calls[c], overhead));
    }
  }
  /* simavr ends the run on sleep with interrupts off. */
  __asm__ volatile("cli");
  sleep_mode();
  return 0;
}
