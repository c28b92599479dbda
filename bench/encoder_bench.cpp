// Encoder speed over in-memory inputs: encode_sample alone, and
// encode_data_chunk over memory streams (no disk, no system calls).
//
//   build/bench/wav2ima_bench [--benchmark_filter=...]
#include <cstdint>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "adpcm/encoder.h"
#include "bench/signal_cache.h"

using namespace wav2ima;

namespace {

std::vector<std::int32_t> left_samples(int kind) {
  const auto& bytes = signal_bytes(kind);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(kFrames));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[4 * i] | bytes[4 * i + 1] << 8));
  }
  return samples;
}

void BM_EncodeSample(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  state.SetLabel(kKinds[kind]);
  const std::vector<std::int32_t> samples = left_samples(kind);
  std::int32_t predictor = 0;
  std::int32_t step_index = 0;
  for (auto _ : state) {
    for (const std::int32_t sample : samples) {
      benchmark::DoNotOptimize(encode_sample(sample, predictor, step_index));
    }
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.SetBytesProcessed(state.iterations() * kFrames * 2);
}
BENCHMARK(BM_EncodeSample)->DenseRange(0, 2);

void BM_EncodeDataChunk(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  state.SetLabel(kKinds[kind]);
  std::vector<unsigned char> bytes = signal_bytes(kind);
  std::vector<unsigned char> encoded(static_cast<std::size_t>(kFrames));
  std::FILE* input = fmemopen(bytes.data(), bytes.size(), "rb");
  std::FILE* output = fmemopen(encoded.data(), encoded.size(), "wb");
  reset_encoder_state();
  for (auto _ : state) {
    std::rewind(input);
    std::rewind(output);
    if (encode_data_chunk(output, input, static_cast<std::uint32_t>(bytes.size())) != 0) {
      state.SkipWithError("encode_data_chunk failed");
      break;
    }
  }
  std::fclose(output);
  std::fclose(input);
  // Samples: two per frame.
  state.SetItemsProcessed(state.iterations() * kFrames * 2);
  state.SetBytesProcessed(state.iterations() * kFrames * kBytesPerFrame);
}
BENCHMARK(BM_EncodeDataChunk)->DenseRange(0, 2);

}  // namespace
