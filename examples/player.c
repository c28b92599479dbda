/* Plays a wav2ima stream as a player does, to raw PCM on standard output:
   16-bit little-endian stereo at 44100 Hz, what `aplay -f cd` reads.

     player IN.ima | aplay -f cd

   Built against the installed header (docs/player.md):

     cmake -S examples -B player-build -DCMAKE_PREFIX_PATH=PREFIX
     cmake --build player-build */
#include <stdio.h>
#include <wav2ima/ima_player.h>

enum { kBlock = 4096 };

static uint8_t stream[kBlock];
static int16_t frames[2 * kBlock];
static uint8_t pcm[4 * kBlock];

int main(int argc, char** argv) {
  ImaPlayer player;
  FILE* input;
  size_t got;
  if (argc != 2) {
    fputs("usage: player IN.ima > OUT.raw\n", stderr);
    return 2;
  }
  input = fopen(argv[1], "rb");
  if (input == NULL) {
    perror(argv[1]);
    return 1;
  }
  ima_player_reset(&player);
  while ((got = fread(stream, 1, kBlock, input)) > 0) {
    size_t i;
    ima_player_decode(&player, stream, got, frames);
    /* Little-endian bytes whatever the host's order. */
    for (i = 0; i < 2 * got; ++i) {
      const uint16_t sample = (uint16_t)frames[i];
      pcm[2 * i] = (uint8_t)(sample & 0xFF);
      pcm[2 * i + 1] = (uint8_t)(sample >> 8);
    }
    if (fwrite(pcm, 4, got, stdout) != got) {
      perror("standard output");
      return 1;
    }
  }
  if (ferror(input)) {
    perror(argv[1]);
    return 1;
  }
  if (fflush(stdout) != 0) {
    perror("standard output");
    return 1;
  }
  return 0;
}
