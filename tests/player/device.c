/* The player check on a board: the generated streams and the bundled
   example's stream, built into flash, played with the player; the board's
   file says how a line goes out and how the run ends. */
#include <stddef.h>
#include <stdint.h>

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

int main(void) {
  ExamplePosition example = {0, 0};
  check_streams(fill_example, &example, device_print);
  device_exit();
  return 0;
}
