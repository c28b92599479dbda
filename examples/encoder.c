/* An asset tool's first encoder: a WAV's samples in (a canonical 44-byte
   header, 16-bit stereo 44.1 kHz, on standard input), the stream out, at the
   level given, through the installed library. Fed in pieces of any size, as
   a tool reading a file would.

     cc encoder.c $(pkg-config --cflags --libs wav2ima) -o encoder
     ./encoder 5 < song.wav > song.ima */
#include <stdio.h>
#include <stdlib.h>

#include <wav2ima/ima_encoder.h>

enum { kHeader = 44, kPiece = 1000 };

int main(int argc, char** argv) {
  ImaEncoder* encoder = ima_encoder_new(argc > 1 ? atoi(argv[1]) : 3);
  unsigned char bytes[4 * kPiece];
  int16_t frames[2 * kPiece];
  uint8_t out[kPiece + IMA_ENCODER_MAX_DELAY];
  size_t got;
  size_t i;
  if (encoder == NULL || fread(bytes, 1, kHeader, stdin) != kHeader) return 1;
  while ((got = fread(bytes, 4, kPiece, stdin)) > 0) {
    for (i = 0; i < 2 * got; ++i)
      frames[i] = (int16_t)(uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (fwrite(out, 1, ima_encoder_feed(encoder, frames, got, out), stdout) == 0 && got > 0) {
      return 1;
    }
  }
  (void)fwrite(out, 1, ima_encoder_finish(encoder, out), stdout);
  ima_encoder_free(encoder);
  return fflush(stdout) == 0 ? 0 : 1;
}
