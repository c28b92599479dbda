#include "adpcm/tables.h"

#include <algorithm>

constexpr std::int32_t kStepTable[kStepIndexMax + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr std::int32_t kIndexTable[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

namespace {

constexpr std::array<std::uint32_t, kStepIndexMax + 1> make_reciprocals() {
  std::array<std::uint32_t, kStepIndexMax + 1> r{};
  for (int i = 0; i <= kStepIndexMax; ++i) {
    const auto step = static_cast<std::uint64_t>(kStepTable[i]);
    r[static_cast<std::size_t>(i)] =
        static_cast<std::uint32_t>(((std::uint64_t{1} << 34) + step - 1) / step);
  }
  return r;
}

constexpr CodeStepTable make_code_steps() {
  CodeStepTable t{};
  for (int index = 0; index <= kStepIndexMax; ++index) {
    for (int code = 0; code < kCodes; ++code) {
      const int magnitude = code & 7;
      const std::int32_t delta = (2 * magnitude + 1) * kStepTable[index] / 8;
      const int next = std::clamp(index + kIndexTable[magnitude], 0, kStepIndexMax);
      t.entry[index][code] = {(code & 8) != 0 ? -delta : delta, static_cast<std::uint16_t>(next),
                              static_cast<std::uint16_t>(code)};
    }
  }
  return t;
}

constexpr CodeStepTable kCodeStepsData = make_code_steps();

constexpr QuantiserTable make_quantiser_steps() {
  QuantiserTable t{};
  for (int index = 0; index <= kStepIndexMax; ++index) {
    for (int below = 0; below < 2; ++below) {
      for (int m = 0; m < kQuotients; ++m) {
        // Truncation toward zero maps m = 0 to magnitude 0 as well; a zero
        // quotient keeps the sign clear even below the predictor.
        const int magnitude = (m - 1) / 2;
        const int code = magnitude | (below != 0 && m != 0 ? 8 : 0);
        t.entry[index][below * kQuotients + m] = kCodeStepsData.entry[index][code];
      }
    }
  }
  return t;
}

}  // namespace

constexpr std::array<std::uint32_t, kStepIndexMax + 1> kStepReciprocal = make_reciprocals();
constexpr CodeStepTable kCodeSteps = kCodeStepsData;
constexpr QuantiserTable kQuantiserSteps = make_quantiser_steps();
