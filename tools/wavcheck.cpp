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
//   wavcheck IN.wav
#include <cstdio>

#include "platform/files.h"
#include "wave/wave_summary.h"

using namespace wav2ima;

namespace {

constexpr std::uint16_t kChannels = 2;
constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint32_t kByteRate = kSampleRate * kChannels * kBitsPerSample / 8;

void say_format(const WaveSummary& wave) {
  if (wave.format == kFormatTagPcm || wave.format == kFormatTagFloat) {
    std::printf("format %s\n", wave.format == kFormatTagPcm ? "pcm" : "float");
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

// Why the format chunk fails the converter's test, one reason a line;
// false when it says nothing against it.
bool say_format_reasons(const WaveSummary& wave) {
  bool said = false;
  const auto why = [&said]() {
    said = true;
    return "why ";
  };
  if (wave.format == kFormatTagFloat) {
    std::printf("%sfloating-point samples, wav2ima converts 16-bit PCM\n", why());
  } else if (wave.format != kFormatTagPcm) {
    std::printf("%sformat 0x%04X is not PCM, wav2ima converts 16-bit PCM\n", why(), wave.format);
  }
  if (wave.channels == 1) {
    std::printf("%smono: 1 channel, wav2ima converts stereo\n", why());
  } else if (wave.channels != kChannels) {
    std::printf("%s%u channels, wav2ima converts stereo\n", why(), wave.channels);
  }
  if (wave.sample_rate != kSampleRate) {
    std::printf("%s%lu Hz, wav2ima converts 44100 Hz\n", why(),
                static_cast<unsigned long>(wave.sample_rate));
  }
  if (wave.bits_per_sample != kBitsPerSample && wave.format != kFormatTagFloat) {
    std::printf("%s%u-bit, wav2ima converts 16-bit\n", why(), wave.bits_per_sample);
  }
  return said;
}

void say_all(const WaveSummary& wave) {
  if (!wave.riff_wave) {
    std::puts("wave no\nwhy not a RIFF/WAVE file");
    return;
  }
  std::puts("wave yes");
  if (!wave.has_format) {
    std::puts("format none\nwhy no format chunk");
  } else {
    say_format(wave);
    // The converter reads the header's bytes per second too: wrong there
    // alone (a block alignment of 0 makes it 0), it is the one reason.
    if (!say_format_reasons(wave) && wave.byte_rate != kByteRate) {
      std::printf("why %lu bytes per second in its header, wav2ima reads %lu\n",
                  static_cast<unsigned long>(wave.byte_rate),
                  static_cast<unsigned long>(kByteRate));
    }
  }
  std::printf("frames %llu\ncut-short %s\n", static_cast<unsigned long long>(wave.frames),
              wave.cut_short ? "yes" : "no");
  if (wave.cut_short) std::puts("why cut short: the file ends before its last chunk does");
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
  say_all(wave);
  return 0;
}
