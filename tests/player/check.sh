#!/bin/sh
# Plays the player check's streams with ima2wav and with a player, and
# compares the lines each gives: the samples must be the same.
#
#   check.sh DIR WAV2IMA IMA2WAV HOST_CHECK EXAMPLE_WAV PLAYER_COMMAND...
#
# HOST_CHECK is the check built for the host (it writes the streams and
# digests ima2wav's WAVs); PLAYER_COMMAND prints the player's lines, and may
# read DIR/example.ima. PROGRAMS_START and CHECK_START, when set, start the
# programs and the host check (an emulator).
set -eu
dir=$1 wav2ima=$2 ima2wav=$3 host_check=$4 example=$5
shift 5
rm -rf "$dir"
mkdir -p "$dir"
${CHECK_START:-} "$host_check" --write "$dir"
${PROGRAMS_START:-} "$wav2ima" "$example" "$dir/example.ima" >/dev/null
for name in every_state silence squares example; do
  ${PROGRAMS_START:-} "$ima2wav" "$dir/$name.ima" "$dir/$name.wav" >/dev/null
  ${CHECK_START:-} "$host_check" --digest "$name" "$dir/$name.wav"
done >"$dir/want.txt"
# EXTRA_WANT, when set, holds the lines of streams only the board plays.
[ -z "${EXTRA_WANT:-}" ] || cat "$EXTRA_WANT" >>"$dir/want.txt"
# An emulator's console may end its lines with a carriage return.
"$@" | tr -d '\r' >"$dir/got.txt"
diff "$dir/want.txt" "$dir/got.txt"
