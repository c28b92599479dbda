#include "adpcm/fidelity.h"

#include <algorithm>
#include <cmath>

namespace wav2ima {

namespace {

double held_db(double signal, double noise) {
  if (noise == 0.0) return kSegmentCeilingDb;
  if (signal == 0.0) return kSegmentFloorDb;
  return std::clamp(10.0 * std::log10(signal / noise), kSegmentFloorDb, kSegmentCeilingDb);
}

void close_segment(Fidelity& f) {
  const double db = held_db(f.segment_signal, f.segment_noise);
  if (f.segments == 0 || db < f.worst_db) {
    f.worst_db = db;
    f.worst_segment = f.segments;
  }
  f.segment_db_sum += db;
  ++f.segments;
  f.segment_signal = 0.0;
  f.segment_noise = 0.0;
  f.segment_frames = 0;
}

}  // namespace

void add_frames(Fidelity& f, const std::int16_t* input, const std::int16_t* decoded,
                std::uint64_t count) {
  for (std::uint64_t i = 0; i < 2 * count; ++i) {
    const double x = input[i];
    const double e = x - decoded[i];
    f.segment_signal += x * x;
    f.segment_noise += e * e;
    f.signal += x * x;
    f.noise += e * e;
    if (i % 2 == 1 && ++f.segment_frames == kSegmentFrames) close_segment(f);
  }
  f.frames += count;
}

void close_segments(Fidelity& f) {
  if (f.segment_frames > 0) close_segment(f);
}

double snr_db(const Fidelity& f) {
  if (f.noise == 0.0) return kSegmentCeilingDb;
  if (f.signal == 0.0) return kSegmentFloorDb;
  return 10.0 * std::log10(f.signal / f.noise);
}

double segmental_snr_db(const Fidelity& f) {
  return f.segments == 0 ? kSegmentCeilingDb : f.segment_db_sum / static_cast<double>(f.segments);
}

}  // namespace wav2ima
