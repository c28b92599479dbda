// Decoder speed per frame, over the streams the encoder makes of the
// benchmark's signals: ima2wav's decode_stream (memory streams in and out)
// beside the player's header decoding the same bytes in blocks of the same
// size, in the same run.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "adpcm/decoder.h"
#include "adpcm/encoder.h"
#include "bench/signal_cache.h"
#include "player/ima_player.h"

using namespace wav2ima;

namespace {

constexpr std::size_t kBlockBytes = std::size_t{32} * 1024;  // ima2wav's block

const std::vector<unsigned char>& stream_bytes(int kind) {
  static std::vector<unsigned char> cache[3];
  auto& stream = cache[kind];
  if (stream.empty()) {
    std::vector<unsigned char> pcm = signal_bytes(kind);
    stream.resize(static_cast<std::size_t>(kFrames));
    std::FILE* input = fmemopen(pcm.data(), pcm.size(), "rb");
    std::FILE* output = fmemopen(stream.data(), stream.size(), "wb");
    reset_encoder_state();
    const int result = encode_data_chunk(output, input, static_cast<std::uint32_t>(pcm.size()));
    std::fclose(output);
    std::fclose(input);
    if (result != 0) stream.clear();
  }
  return stream;
}

void BM_Ima2wavDecode(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  state.SetLabel(kKinds[kind]);
  std::vector<unsigned char> stream = stream_bytes(kind);
  std::vector<unsigned char> frames(stream.size() * static_cast<std::size_t>(kBytesPerFrame));
  std::FILE* input = fmemopen(stream.data(), stream.size(), "rb");
  std::FILE* output = fmemopen(frames.data(), frames.size(), "wb");
  for (auto _ : state) {
    std::rewind(input);
    std::rewind(output);
    DecoderState decoder{};
    std::uint64_t decoded = 0;
    if (decode_stream(output, input, decoder, decoded) != 0 || decoded != stream.size()) {
      state.SkipWithError("decode_stream failed");
      break;
    }
  }
  std::fclose(output);
  std::fclose(input);
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Ima2wavDecode)->DenseRange(0, 2);

void BM_PlayerDecode(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  state.SetLabel(kKinds[kind]);
  const std::vector<unsigned char>& stream = stream_bytes(kind);
  std::vector<std::int16_t> frames(kBlockBytes * static_cast<std::size_t>(kChannels));
  for (auto _ : state) {
    ImaPlayer player;
    ima_player_reset(&player);
    for (std::size_t at = 0; at < stream.size(); at += kBlockBytes) {
      ima_player_decode(&player, stream.data() + at, kBlockBytes, frames.data());
      benchmark::DoNotOptimize(frames.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_PlayerDecode)->DenseRange(0, 2);

}  // namespace
