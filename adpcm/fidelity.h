// How far a decoded stream lies from the samples it was made from: the
// measures `imaenc --report` prints and the quality benchmark compares
// encoders by. Floating point in the totals only; no code depends on them.
#ifndef WAV2IMA_ADPCM_FIDELITY_H
#define WAV2IMA_ADPCM_FIDELITY_H

#include <cstdint>

namespace wav2ima {

// 20 ms segments at 44100 frames a second; each segment's SNR is held
// within [-10, 60] dB, so silence coded exactly counts 60, not infinity.
constexpr std::uint32_t kSegmentFrames = 882;
constexpr double kSegmentFloorDb = -10.0;
constexpr double kSegmentCeilingDb = 60.0;

struct Fidelity {
  double signal;  // sum of squared input samples, both channels
  double noise;   // sum of squared differences
  double segment_signal;
  double segment_noise;
  std::uint32_t segment_frames;  // frames in the open segment
  std::uint64_t segments;        // segments closed
  double segment_db_sum;
  double worst_db;              // the worst closed segment's SNR
  std::uint64_t worst_segment;  // its number, from 0
  std::uint64_t frames;
  std::uint64_t clamped;  // samples where the decoder held the predictor at a rail
};

// Adds `count` frames: the input's and the decoded samples, interleaved.
void add_frames(Fidelity& fidelity, const std::int16_t* input, const std::int16_t* decoded,
                std::uint64_t count);

// Closes the open segment, if it holds any frame.
void close_segments(Fidelity& fidelity);

// 10 log10(signal / noise), held within [-10, 60] as a segment's is when
// either is 0 (exact: 60).
double snr_db(const Fidelity& fidelity);

// The mean of the segments' SNRs; 60 with no segment.
double segmental_snr_db(const Fidelity& fidelity);

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_FIDELITY_H
