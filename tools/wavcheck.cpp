// wavcheck: says in plain words why wav2ima refuses a WAV file, one reason a
// line, from what the file says of itself; nothing for a file whose format
// it takes. The page shows these words beside "convert error".
//
//   wavcheck IN.wav
#include <cstdio>

#include "platform/files.h"
#include "wave/wave_summary.h"

using namespace wav2ima;

namespace {

constexpr std::uint16_t kChannels = 2;
constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kBitsPerSample = 16;

void say_reasons(const WaveSummary& wave) {
  if (!wave.riff_wave) {
    std::puts("not a RIFF/WAVE file");
    return;
  }
  if (wave.has_format) {
    if (wave.format == kFormatTagFloat) {
      std::puts("floating-point samples, wav2ima converts 16-bit PCM");
    } else if (wave.format != kFormatTagPcm) {
      std::printf("format 0x%04X is not PCM, wav2ima converts 16-bit PCM\n", wave.format);
    }
    if (wave.channels == 1) {
      std::puts("mono: 1 channel, wav2ima converts stereo");
    } else if (wave.channels != kChannels) {
      std::printf("%u channels, wav2ima converts stereo\n", wave.channels);
    }
    if (wave.sample_rate != kSampleRate) {
      std::printf("%lu Hz, wav2ima converts 44100 Hz\n",
                  static_cast<unsigned long>(wave.sample_rate));
    }
    if (wave.bits_per_sample != kBitsPerSample && wave.format != kFormatTagFloat) {
      std::printf("%u-bit, wav2ima converts 16-bit\n", wave.bits_per_sample);
    }
  }
  if (wave.cut_short) std::puts("cut short: the file ends before its last chunk does");
}

}  // namespace

int main(int argc, char** argv) {
  prepare_process();
  std::FILE* input = argc > 1 ? std::fopen(argv[1], "rb") : nullptr;
  WaveSummary wave{};
  const bool read = input != nullptr && summarise_wave(input, wave) == 0;
  if (input != nullptr) (void)std::fclose(input);
  if (!read) {
    std::fprintf(stderr, "can not read %s\n", argc > 1 ? argv[1] : "(null)");
    return 1;
  }
  say_reasons(wave);
  return 0;
}
