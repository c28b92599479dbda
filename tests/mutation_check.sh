#!/usr/bin/env bash
# Mutation check: makes one small fault at a time in the library, the kind a
# slip of the hand makes, and expects the test suite (all but the large-file
# tests) to fail for each. A fault the suite lets through is a gap in the
# tests. Works on a copy of the tree as it is, committed or not.
#
#   tests/mutation_check.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# file @@ text as it stands (exactly once in the file) @@ the fault
mutations=(
  'adpcm/encoder.cpp@@  if (std::fread(frame_block, 1, tail, input) != tail) return input_end(input);@@'
  'adpcm/encoder.cpp@@static_cast<unsigned char>((left_code << kCodeBits) | right_code)@@static_cast<unsigned char>((right_code << kCodeBits) | left_code)'
  'adpcm/reconstruct.h@@next = std::clamp(next, kSampleMin, kSampleMax);@@next = std::clamp(next, kSampleMin + 1, kSampleMax);'
  'adpcm/reconstruct.h@@next = std::clamp(next, kSampleMin, kSampleMax);@@next = std::clamp(next, kSampleMin, kSampleMax - 1);'
  'player/ima_player.h@@step_index + 2 * (magnitude - 3)@@step_index + 2 * (magnitude - 3) - (magnitude == 7)'
  'player/ima_player.h@@   371,@@   372,'
  'player/ima_player.h@@if (code & 1u) product += IMA_PLAYER_CAST(uint32_t, step) << 1;@@if (code & 1u) product += IMA_PLAYER_CAST(uint32_t, step);'
  'player/ima_player.h@@  if (next > 32767) next = 32767;@@  if (next > 32766) next = 32766;'
  'player/ima_player.h@@next > 88 ? 88 : next@@next > 87 ? 87 : next'
  'player/ima_player.h@@&run->right_index, byte & 15u);@@&run->right_index, byte & 7u);'
  'player/ima_player.h@@run.right_index = player->step_index[1] > 88 ? 88 : player->step_index[1];@@run.right_index = player->step_index[1];'
  'player/ima_player.h@@(step >> 3) * odd + eighths@@(step >> 3) * odd'
  'player/ima_player.h@@    if (marks[i - 1].frame <= frame) {@@    if (marks[i - 1].frame < frame) {'
  'adpcm/quantiser.h@@const std::int32_t magnitude = (m - 1) / 2;@@const std::int32_t magnitude = m / 2;'
  'adpcm/decoder.cpp@@frame_of(left_predictor, right_predictor)@@frame_of(right_predictor, left_predictor)'
  'wave/chunk_walk.cpp@@remaining -= std::int64_t{size} + kChunkHeaderSize;@@remaining -= std::int64_t{size};'
  'wave/chunk_walk.cpp@@  if (byte == 0) return true;@@  if (byte == 1) return true;'
  'wave/chunk_walk.cpp@@pad_may_follow = size % 2 != 0;@@pad_may_follow = false;'
  'wave/wave_format.h@@    {kChannelsAt, kChannels & 0xFF},@@'
  'wave/wave_format.h@@    {kSampleRateAt + 1, (kSampleRate >> 8) & 0xFF},@@'
  'wave/chunk_walk.cpp@@  if (size < kExtensibleFormatSize) return false;@@'
  'wave/wave_format.h@@0x80, 0x00, 0x00, 0xAA@@0x80, 0x00, 0x00, 0xAB'
  'wave/chunk_walk.cpp@@size == 0 && remaining <= 0 &&@@size == 0 && remaining < 0 &&'
  'wave/chunk_walk.cpp@@return std::feof(input) != 0 ? kInputEnded : kNextChunk;@@return kNextChunk;'
  'wave/chunk_walk.cpp@@if (got == 0 && riff_size_unknown && at_end_of_input(input))@@if (got == 0 && riff_size_unknown)'
  'wave/wave_format.h@@kPlaceholderSizeMin = 0x7FFF0000@@kPlaceholderSizeMin = 0x7FFF0001'
  'wave/ima_to_wave.cpp@@promised == kUnknownDataSize || decoded@@true || decoded'
  'wave/ima_to_wave.cpp@@length_known && header_at < 0@@length_known'
  'app/driver.cpp@@return {kept_apart(stdout, input, output) ? stdout : failure, failure};@@return {kept_apart(stdout, input, output) ? stdout : stderr, failure};'
  'app/driver.cpp@@return file.terminal || (@@return ('
  'app/driver.cpp@@message_streams(FileIdentity{}, named_output)@@message_streams(FileIdentity{}, FileIdentity{})'
  'platform/files.cpp@@  if (file.descriptor >= 0) return 0;@@'
  'platform/system_posix.cpp@@const bool ignored = sigaction(SIGPIPE, &ignore, &previous) == 0;@@const bool ignored = false;'
  'platform/files.cpp@@return position < status.length ? status.length - position : 0;@@return status.length;'
  'platform/pipe_view.cpp@@if (tell_stream(input) == 0) return input;@@if (tell_stream(input) >= 0) return input;'
  'wave/ima_to_wave.cpp@@output_appends ? -1 : tell_stream(output)@@tell_stream(output)'
  'app/driver.cpp@@(input_file.stored && same_file(input_file, output_file))@@false'
  'app/driver.cpp@@(input_file.stored && same_file@@(same_file'
  'platform/files.cpp@@for (int fd = open_null_device(); fd >= 0;@@for (int fd = -1; fd >= 0;'
  'platform/files.cpp@@*digits == '"'"'\0'"'"' || (digits[0]@@*digits == '"'"'\0'"'"' && (digits[0]'
  'platform/files.cpp@@status_of(fd, status) && status.kind == kDirectory@@status_of(fd, status) && false'
  'platform/replay.cpp@@return kBlockBuffers * buffer_size + buffer_size + kLookBack;@@return kBlockBuffers * buffer_size + kLookBack;'
  'platform/files.cpp@@descriptor >= 0 && held(descriptor)};@@descriptor >= 0};'
  'platform/descriptors_posix.cpp@@status.kind != kRegular || file_system_vouches_for_length(fd);@@true;'
  'app/driver.cpp@@return terminal && (byte < 0x20 || byte == 0x7F);@@return false;'
  'wave/wave_summary.cpp@@summary.frames += static_cast<std::uint64_t>(taken / kBytesPerFrame);@@summary.frames += static_cast<std::uint64_t>(taken);'
  'platform/replay.cpp@@if (target < replay.received@@if (target <= replay.received'
  'wave/chunk_walk.cpp@@  if (start_output(conversion) != 0) return kChunkFailed;@@'
  'adpcm/nearest.h@@    magnitude += distance >= from ? 1 : 0;@@    magnitude += distance > from ? 1 : 0;'
  'adpcm/nearest.cpp@@  if (reached != clamp_sample(reached)) code = kMagnitudeMax | (code & kSignBit);@@'
  'adpcm/nearest.h@@const bool upper_wins = upper_cost <= best_cost;@@const bool upper_wins = upper_cost < best_cost;'
  'adpcm/nearest.h@@  if (std::abs(predictor) + row.largest_move <= kSampleMax) [[likely]] {@@  if (true) {'
  'adpcm/search.cpp@@    if (code_of_age(node.pending_codes, oldest) != code) continue;@@'
  'adpcm/ima_encoder.cpp@@      const std::size_t left = waited + taken - written;@@      const std::size_t left = waited + taken - written - 1;'
  'adpcm/ima_encoder.cpp@@    ima_player_skip(&encoder.written, out, count);@@'
  'app/marks.cpp@@  if (marker.every > 0) next = (frame / marker.every + 1) * marker.every;@@  if (marker.every > 0) next = (frame / marker.every + 2) * marker.every;'
  'app/marks.cpp@@  if (marker.marks == 0 && write_mark(marker) != 0) return -1;@@'
  'wave/chunk_walk.cpp@@    loop.found = loop.start <= loop.end;@@    loop.found = loop.start < loop.end;'
)

work=$(mktemp -d "${TMPDIR:-/tmp}/wav2ima-mutants-XXXXXX")
trap 'rm -rf "$work"' EXIT
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$work"
echo "building the unmutated tree in $work"
# A fault may leave a variable unused: warnings must not stop the build.
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DWAV2IMA_WERROR=OFF >/dev/null
cmake --build "$work/build" -j2 >/dev/null
suite() { ctest --test-dir "$work/build" -j2 -LE large --stop-on-failure >/dev/null 2>&1; }
suite || {
  echo "the suite fails before any mutation"
  exit 1
}

survivors=0
for mutation in "${mutations[@]}"; do
  file=${mutation%%@@*}
  rest=${mutation#*@@}
  from=${rest%%@@*}
  to=${rest#*@@}
  path=$work/$file
  original=$(cat "$path"; echo x)
  original=${original%x}
  rest=${original//"$from"/}
  if [ $(((${#original} - ${#rest}) / ${#from})) -ne 1 ]; then
    echo "stale mutation, its text is not in $file exactly once: $from"
    exit 1
  fi
  printf '%s' "${original/"$from"/"$to"}" >"$path"
  if ! cmake --build "$work/build" -j2 >/dev/null 2>&1; then
    echo "does not compile: $file: $from"
    exit 1
  fi
  if suite; then
    echo "SURVIVED  $file: '$from' -> '$to'"
    survivors=$((survivors + 1))
  else
    echo "caught    $file: '$from' -> '$to'"
  fi
  printf '%s' "$original" >"$path"
done
cmake --build "$work/build" -j2 >/dev/null
echo "${#mutations[@]} mutations, $survivors survived"
[ "$survivors" -eq 0 ]
