// wavcheck: says in plain words what a WAV file is, on the first line
// ("PCM 24-bit, 1 channel, 48000 Hz, 3.0 s", the length always last), then
// why wav2ima refuses it, one reason a line; only "not a RIFF/WAVE file" for
// anything else. The page shows these words beside "convert error".
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

void say_what_it_is(const WaveSummary& wave) {
  if (!wave.has_format) {
    std::puts("no format chunk");
    return;
  }
  if (wave.format == kFormatTagPcm || wave.format == kFormatTagFloat) {
    std::printf("%s %u-bit", wave.format == kFormatTagPcm ? "PCM" : "float", wave.bits_per_sample);
  } else {
    std::printf("format 0x%04X", wave.format);
  }
  const std::uint64_t bytes_per_second =
      std::uint64_t{wave.sample_rate} * wave.channels * wave.bits_per_sample / 8;
  const double seconds = bytes_per_second > 0 ? static_cast<double>(wave.data_bytes) /
                                                    static_cast<double>(bytes_per_second)
                                              : 0.0;
  std::printf(", %u %s, %lu Hz, %.1f s\n", wave.channels,
              wave.channels == 1 ? "channel" : "channels",
              static_cast<unsigned long>(wave.sample_rate), seconds);
}

void say_reasons(const WaveSummary& wave) {
  if (!wave.riff_wave) {
    std::puts("not a RIFF/WAVE file");
    return;
  }
  say_what_it_is(wave);
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
