// wavcheck: what a WAV file says of itself, a key and its value a line, for
// the page and the library to read; then why wav2ima refuses it, in words
// for a person, each after the key "why":
//
//   wave yes
//   format pcm             (pcm, float, 0x0055 for another tag, none)
//   bits 24
//   channels 1
//   rate 48000
//   seconds 3.0
//   frames 0               (the bytes wav2ima writes, if it converts the file)
//   cut-short no
//   why mono: 1 channel, wav2ima converts stereo
//   why 48000 Hz, wav2ima converts 44100 Hz
//
// Anything that is not RIFF/WAVE is "wave no" and one "why".
//
// With --header it writes the header ima2wav puts before DATA_BYTES bytes of
// samples, for the page, which makes WAV files of its own.
//
//   wavcheck IN.wav
//   wavcheck --header DATA_BYTES OUT.wav
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "wave/canonical_header.h"
#include "wave/wave_summary.h"

using namespace wav2ima;

namespace {

void say_format(const WaveSummary& wave) {
  if (wave.format == kFormatPcm || wave.format == kFormatFloat) {
    std::printf("format %s\n", wave.format == kFormatPcm ? "pcm" : "float");
  } else {
    std::printf("format 0x%04X\n", wave.format);
  }
  const std::uint64_t bytes_per_second =
      std::uint64_t{wave.sample_rate} * wave.channels * wave.bits_per_sample / 8;
  const double seconds = bytes_per_second > 0 ? static_cast<double>(wave.data_bytes) /
                                                    static_cast<double>(bytes_per_second)
                                              : 0.0;
  std::printf("bits %u\nchannels %u\nrate %lu\nseconds %.1f\n", wave.bits_per_sample, wave.channels,
              static_cast<unsigned long>(wave.sample_rate), seconds);
}

void say_all(const WaveSummary& wave) {
  if (!wave.riff_wave) {
    std::printf("wave no\nwhy %s\n", kNotWaveWords);
    return;
  }
  std::puts("wave yes");
  if (!wave.has_format) {
    std::puts("format none\nwhy no format chunk");
  } else {
    say_format(wave);
    Refusals refusals{};
    format_refusals(wave, "wav2ima", refusals);
    for (std::size_t i = 0; i < refusals.count; ++i)
      std::printf("why %s\n", refusals.line[i]);
  }
  std::printf("frames %llu\ncut-short %s\n", static_cast<unsigned long long>(wave.frames),
              wave.cut_short ? "yes" : "no");
  if (wave.cut_short) std::printf("why %s\n", kCutShortWords);
}

int say_file(const char* name) {
  std::FILE* input = std::fopen(name, "rb");
  WaveSummary wave{};
  const bool read = input != nullptr && summarise_wave(input, wave) == 0;
  if (input != nullptr) (void)std::fclose(input);
  if (!read) {
    std::fprintf(stderr, "can not read %s\n", name);
    return 1;
  }
  say_all(wave);
  return 0;
}

int write_header(const char* data_bytes, const char* name) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long size = std::strtoull(data_bytes, &end, 10);
  if (*data_bytes < '0' || *data_bytes > '9' || *end != '\0' || errno == ERANGE) {
    std::fprintf(stderr, "not a size: %s\n", data_bytes);
    return 1;
  }
  std::FILE* output = std::fopen(name, "wb");
  const bool written = output != nullptr && write_canonical_header(output, size) == 0;
  if ((output != nullptr && std::fclose(output) != 0) || !written) {
    std::fprintf(stderr, "can not write %s\n", name);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  prepare_process();
  if (argc == 4 && std::strcmp(argv[1], "--header") == 0) return write_header(argv[2], argv[3]);
  if (argc == 2) return say_file(argv[1]);
  std::fputs("usage: wavcheck IN.wav | wavcheck --header DATA_BYTES OUT.wav\n", stderr);
  return 1;
}
