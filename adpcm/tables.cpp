#include "adpcm/tables.h"

#include "adpcm/quantiser.h"

namespace wav2ima {

namespace {

constexpr std::array<std::uint32_t, kStepIndexMax + 1> make_reciprocals() {
  std::array<std::uint32_t, kStepIndexMax + 1> r{};
  for (int i = 0; i <= kStepIndexMax; ++i) {
    const auto step = static_cast<std::uint64_t>(kStepTable[i]);
    r[static_cast<std::size_t>(i)] =
        static_cast<std::uint32_t>(((std::uint64_t{1} << kReciprocalBits) + step - 1) / step);
  }
  return r;
}

constexpr CodeStepTable make_code_steps() {
  CodeStepTable t{};
  for (int index = 0; index <= kStepIndexMax; ++index) {
    for (int code = 0; code < kCodes; ++code)
      t.entry[index][code] = code_step(index, code);
  }
  return t;
}

// Each entry is the rule's answer for the smallest distance with that
// quotient: every distance with the same clamped quotient and sign gets the
// same answer from the rule (a quotient that no distance has at a step gets
// its neighbour's, never looked up).
constexpr QuantiserTable make_quantiser_steps() {
  QuantiserTable t{};
  for (int index = 0; index <= kStepIndexMax; ++index) {
    for (int below = 0; below < 2; ++below) {
      for (int quotient = 0; quotient < kQuotients; ++quotient) {
        const std::int32_t distance = (quotient * kStepTable[index] + 7) / 8;
        t.entry[index][below * kQuotients + quotient] =
            quantise_plain(below != 0 ? -distance : distance, index);
      }
    }
  }
  return t;
}

}  // namespace

constexpr std::array<std::uint32_t, kStepIndexMax + 1> kStepReciprocal = make_reciprocals();
constexpr CodeStepTable kCodeSteps = make_code_steps();
constexpr QuantiserTable kQuantiserSteps = make_quantiser_steps();

}  // namespace wav2ima
