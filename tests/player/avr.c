/* The player check on an 8-bit AVR, where int is 16 bits (an ATmega2560
   under simavr): lines out through the first serial port, which simavr
   prints, and the run ends by sleeping with interrupts off, which simavr
   takes as the end. */
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>

static void put(char c) {
  while (!(UCSR0A & (1 << UDRE0))) {
  }
  UDR0 = (uint8_t)c;
}

void device_print(const char* line) {
  while (*line)
    put(*line++);
}

void device_exit(void) {
  cli();
  sleep_mode();
}
