/* The player check on the host, built as C and as C++:
     player_check EXAMPLE.ima        plays every stream, one line each
     player_check --write DIR        writes the generated streams as DIR/NAME.ima
     player_check --digest NAME WAV  the line for the samples of ima2wav's WAV */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/player/streams.h"

enum { kCanonicalHeaderBytes = 44, kFrameBytes = 4 };

typedef struct FileSource {
  FILE* file;
} FileSource;

static size_t fill_from_file(void* source, uint8_t* out, size_t room) {
  return fread(out, 1, room, ((FileSource*)source)->file);
}

static void print_line(const char* line) {
  fputs(line, stdout);
}

static int write_streams(const char* folder) {
  int kind;
  for (kind = 0; kind < kGeneratedStreams; ++kind) {
    char path[4096];
    uint8_t bytes[4096];
    size_t got;
    Generator generator;
    FILE* file;
    snprintf(path, sizeof path, "%s/%s.ima", folder, stream_name(kind));
    file = fopen(path, "wb");
    if (file == NULL) return 1;
    generator_start(&generator, kind);
    while ((got = generator_fill(&generator, bytes, sizeof bytes)) != 0) {
      if (fwrite(bytes, 1, got, file) != got) return 1;
    }
    if (fclose(file) != 0) return 1;
  }
  return 0;
}

static int digest_wav(const char* name, const char* path) {
  FILE* file = fopen(path, "rb");
  uint8_t bytes[4096];
  size_t got;
  uint32_t total = 0;
  Digest digest;
  char line[64];
  if (file == NULL || fseek(file, kCanonicalHeaderBytes, SEEK_SET) != 0) return 1;
  digest_start(&digest);
  while ((got = fread(bytes, 1, sizeof bytes, file)) != 0) {
    digest_bytes(&digest, bytes, got);
    total += (uint32_t)got;
  }
  if (ferror(file) || total % kFrameBytes != 0) return 1;
  (void)fclose(file);
  digest.frames = total / kFrameBytes;
  digest_line(name, &digest, line);
  print_line(line);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--write") == 0) return write_streams(argv[2]);
  if (argc == 4 && strcmp(argv[1], "--digest") == 0) return digest_wav(argv[2], argv[3]);
  if (argc == 2) {
    FileSource example;
    example.file = fopen(argv[1], "rb");
    if (example.file == NULL) return 1;
    check_streams(fill_from_file, &example, print_line);
    return ferror(example.file) ? 1 : 0;
  }
  fputs("usage: player_check EXAMPLE.ima | --write DIR | --digest NAME FILE.wav\n", stderr);
  return 2;
}
