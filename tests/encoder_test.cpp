#include "adpcm/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "adpcm/tables.h"
#include "platform/stream_io.h"
#include "tests/test_files.h"

using namespace wav2ima;

namespace {

struct SampleRow {
  std::int32_t sample;
  std::int32_t predictor;
  std::int32_t step_index;
  int want_code;
  std::int32_t want_predictor;
  std::int32_t want_step_index;
};

TEST(EncodeSample, HandDerivedRows) {
  const SampleRow rows[] = {
      // From the zero state.
      {0, 0, 0, 0, 0, 0},
      {1, 0, 0, 0, 0, 0},
      {2, 0, 0, 0, 0, 0},
      {3, 0, 0, 1, 2, 0},
      {5, 0, 0, 2, 4, 0},
      {-1, 0, 0, 8, 0, 0},  // sign set, magnitude 0: code 8, not 0
      {-3, 0, 0, 9, -2, 0},
      {100, 0, 0, 7, 13, 8},
      {1000, 0, 0, 7, 13, 8},
      {-1000, 0, 0, 15, -13, 8},
      {32767, 0, 0, 7, 13, 8},
      {-32768, 0, 0, 15, -13, 8},
      // Predictor clamped at the top; step index leaves 88.
      {32767, 32000, 88, 0, 32767, 87},
      {32767, 32767, 88, 0, 32767, 87},
      // A quotient of 0 moves the predictor up, even with the sample below it.
      {-32768, -32768, 88, 0, -28673, 87},
      // Quotient 21 clamped to 15; step index 93 clamped to 88.
      {32767, -32768, 85, 7, 13400, 88},
      {-32768, 32767, 85, 15, -13401, 88},
  };
  for (const SampleRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "sample " << row.sample << " predictor " << row.predictor
                                    << " step index " << row.step_index);
    std::int32_t predictor = row.predictor;
    std::int32_t step_index = row.step_index;
    EXPECT_EQ(encode_sample(row.sample, predictor, step_index), row.want_code);
    EXPECT_EQ(predictor, row.want_predictor);
    EXPECT_EQ(step_index, row.want_step_index);
  }
}

TEST(StepTable, RisesStrictlyFromSevenTo32767AndMovesByTheRule) {
  // A lost or doubled entry would break the rise or shift the last value.
  EXPECT_EQ(kStepTable[0], 7);
  EXPECT_EQ(kStepTable[kStepIndexMax], 32767);
  for (int i = 1; i <= kStepIndexMax; ++i)
    EXPECT_LT(kStepTable[i - 1], kStepTable[i]) << i;
  // The player's moves, made of shifts and adds and of byte products in 16
  // bits (the small boards'), are the rule's one multiplication and
  // division at every step and magnitude.
  for (int i = 0; i <= kStepIndexMax; ++i) {
    for (unsigned magnitude = 0; magnitude <= kMagnitudeBits; ++magnitude) {
      const unsigned want = (2 * magnitude + 1) * kStepTable[i] / 8;
      EXPECT_EQ(ima_player_move(kStepTable[i], magnitude), want) << i << " " << magnitude;
      EXPECT_EQ(ima_player_move_narrow(kStepTable[i], static_cast<std::uint8_t>(magnitude)), want)
          << i << " " << magnitude;
    }
  }
}

// Any bytes in a player's record: each field set to every byte value, the
// rest as at a stream's start. A step index past the table plays as its last
// entry (the sanitizers catch a read past it); skipping then decoding plays
// what decoding all of it plays, and a saved record plays on the same.
TEST(PlayerState, AnyBytesPlayInBoundsAndSkipMatchesDecode) {
  std::uint8_t stream[48];
  for (std::size_t i = 0; i < sizeof stream; ++i)
    stream[i] = static_cast<std::uint8_t>(i * 0x35 + 7);  // every nibble, both signs
  const auto decode = [&](ImaPlayer player, std::size_t skipped) {
    std::vector<std::int16_t> frames(2 * sizeof stream);
    ima_player_skip(&player, stream, skipped);
    ima_player_decode(&player, stream + skipped, sizeof stream - skipped,
                      frames.data() + 2 * skipped);
    return std::pair{frames, player};
  };
  const auto after_skip = [](std::vector<std::int16_t> frames) {
    std::fill(frames.begin(), frames.begin() + 2 * 20, std::int16_t{0});
    return frames;
  };
  static_assert(sizeof(ImaPlayer) == 6);
  for (std::size_t field = 0; field < sizeof(ImaPlayer); ++field) {
    for (int value = 0; value < 256; ++value) {
      SCOPED_TRACE(testing::Message() << "byte " << field << " = " << value);
      ImaPlayer player;
      ima_player_reset(&player);
      std::memcpy(reinterpret_cast<std::uint8_t*>(&player) + field, &value, 1);
      ImaPlayer in_range = player;
      for (std::uint8_t& index : in_range.step_index)
        index = std::min<std::uint8_t>(index, kStepIndexMax);
      const auto [played, after] = decode(player, 0);
      EXPECT_EQ(played, decode(in_range, 0).first);
      const auto [skipped, skipped_after] = decode(player, 20);
      EXPECT_EQ(skipped, after_skip(played));
      EXPECT_EQ(std::memcmp(&skipped_after, &after, sizeof after), 0);
      EXPECT_LE(after.step_index[0], kStepIndexMax);
    }
  }
}

struct ChunkRow {
  const char* name;
  Bytes input;
  std::vector<std::uint32_t> counts;  // one data chunk per entry, back to back
  int want_last_result;
  Bytes want_output;
  EncoderState want_state;
};

TEST(EncodeDataChunk, FramesStateAndResults) {
  const ChunkRow rows[] = {
      {"four loud frames",
       loud_frames(4),
       {16},
       0,
       {0x7F, 0x7F, 0x7F, 0x7F},
       {{242, -242}, {32, 32}}},
      {"state continues into the second chunk",
       loud_frames(2),
       {4, 4},
       0,
       {0x7F, 0x7F},
       {{43, -43}, {16, 16}}},
      {"6-byte chunk drops its tail, next chunk starts a new frame",
       loud_frames(1) + Bytes{0xAA, 0xBB} + loud_frames(1),
       {6, 4},
       0,
       {0x7F, 0x7F},
       {{43, -43}, {16, 16}}},
      {"empty chunk", loud_frames(1), {0}, 0, {}, {{0, 0}, {0, 0}}},
      {"body cut short keeps its whole frames",
       loud_frames(2) + Bytes{1, 2},
       {16},
       -1,
       {0x7F, 0x7F},
       {{43, -43}, {16, 16}}},
      {"silence", Bytes(64, 0), {64}, 0, Bytes(16, 0x00), {{0, 0}, {0, 0}}},
      {"body cut inside the tail",
       loud_frames(4) + Bytes{1},
       {19},
       -1,
       {0x7F, 0x7F, 0x7F, 0x7F},
       {{242, -242}, {32, 32}}},
  };
  for (const ChunkRow& row : rows) {
    SCOPED_TRACE(row.name);
    reset_encoder_state();
    std::FILE* input = stream_of(row.input);
    std::FILE* output = std::tmpfile();
    int result = 0;
    std::int64_t offset = 0;
    for (const std::uint32_t count : row.counts) {
      result = encode_data_chunk(output, input, count);
      offset += count;
      if (result == 0) {
        EXPECT_EQ(tell_stream(input), offset);
      }
    }
    EXPECT_EQ(result, row.want_last_result);
    EXPECT_EQ(contents(output), row.want_output);
    EXPECT_EQ(encoder_state.predictor[0], row.want_state.predictor[0]);
    EXPECT_EQ(encoder_state.predictor[1], row.want_state.predictor[1]);
    EXPECT_EQ(encoder_state.step_index[0], row.want_state.step_index[0]);
    EXPECT_EQ(encoder_state.step_index[1], row.want_state.step_index[1]);
    std::fclose(output);
    std::fclose(input);
  }
}

// Whichever comes first, the end of the input or the limit, ends normally.
TEST(EncodeDataToEnd, EndOfInputOrLimit) {
  struct Row {
    const char* name;
    std::uint64_t limit;
    Bytes want_output;
    long want_offset;
  };
  const Row rows[] = {
      {"the end first, tail dropped", UINT64_MAX, {0x7F, 0x7F, 0x7F}, 15},
      {"the limit first, inside a frame", 9, {0x7F, 0x7F}, 9},
      {"the limit at the end", 15, {0x7F, 0x7F, 0x7F}, 15},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    reset_encoder_state();
    std::FILE* input = stream_of(loud_frames(3) + Bytes{9, 9, 9});
    std::FILE* output = std::tmpfile();
    EXPECT_EQ(encode_data_to_end(output, input, row.limit), 0);
    EXPECT_EQ(std::ftell(input), row.want_offset);
    EXPECT_EQ(contents(output), row.want_output);
    std::fclose(output);
    std::fclose(input);
  }
}

TEST(EncodeDataChunk, FailedWriteIsReported) {
  if (full_device().empty()) GTEST_SKIP() << "Windows has no device that is always full";
  std::FILE* full = std::fopen(full_device().c_str(), "wb");
  ASSERT_NE(full, nullptr);
  // Unbuffered, so the first byte written meets the full device.
  std::setvbuf(full, nullptr, _IONBF, 0);
  std::FILE* input = stream_of(loud_frames(2));
  reset_encoder_state();
  EXPECT_EQ(encode_data_chunk(full, input, 8), -1);
  reset_encoder_state();
  std::rewind(input);
  EXPECT_EQ(encode_data_to_end(full, input), -1);
  std::fclose(input);
  std::fclose(full);
}

}  // namespace
