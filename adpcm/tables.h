// The step sizes of the IMA ADPCM standard, what one code does to a channel
// (both from the player's header, the one reconstruction), and the tables
// derived from them that the fast encoder and the reader use.
#ifndef WAV2IMA_ADPCM_TABLES_H
#define WAV2IMA_ADPCM_TABLES_H

#include <array>
#include <cstdint>
#include <iterator>

#include "adpcm/stream_format.h"
#include "player/ima_player.h"

namespace wav2ima {

constexpr int kCodes = 1 << kCodeBits;

// Step size for each step index 0..kStepIndexMax: the player's table, so a
// player, ima2wav and the encoder read one copy.
inline constexpr const auto& kStepTable = ima_player_steps;
static_assert(std::size(kStepTable) == kStepIndexMax + 1);

// What one code does to a channel: the signed predictor move
// ((2 * magnitude + 1) * step / 8, negative when bit 3 is set) and the step
// index that follows, already clamped to 0..kStepIndexMax; and the code.
struct CodeStep {
  std::int32_t delta;
  std::uint16_t next_step_index;
  std::uint16_t code;
};

// The reconstruction: what `code` does at `step_index`, for the encoder after
// it chose the code and for every reader of the stream, by the player's own
// two rules.
constexpr CodeStep code_step(std::int32_t step_index, int code) {
  const auto index = static_cast<std::uint8_t>(step_index);
  const auto code_bits = static_cast<unsigned>(code);
  const std::int32_t delta = ima_player_move(kStepTable[index], code_bits);
  return {(code & kSignBit) != 0 ? -delta : delta, ima_player_next_step_index(index, code_bits),
          static_cast<std::uint16_t>(code)};
}

// ceil(2^34 / step) for each step index: (d * it) >> 31 equals the truncated
// quotient 8 * d / step for every d in 0..65535 (proved by a test).
constexpr int kReciprocalBits = 34;
constexpr int kReciprocalShift = kReciprocalBits - 3;  // the 3 bits of the factor 8
extern const std::array<std::uint32_t, kStepIndexMax + 1> kStepReciprocal;

// By step index and code: code_step for every state, for the reader.
struct CodeStepTable {
  CodeStep entry[kStepIndexMax + 1][kCodes];
};
extern const CodeStepTable kCodeSteps;

// By step index, sign of the difference (16 = below the predictor) and the
// clamped quotient 0..15: the code the encoder chooses and what it does, so
// that choosing a code costs one load and no branch.
constexpr int kQuotients = 16;
struct QuantiserTable {
  CodeStep entry[kStepIndexMax + 1][2 * kQuotients];
};
extern const QuantiserTable kQuantiserSteps;

}  // namespace wav2ima

#endif  // WAV2IMA_ADPCM_TABLES_H
