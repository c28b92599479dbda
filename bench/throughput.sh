#!/usr/bin/env bash
# Whole-process conversion speed, every contender timed in the same rounds
# over the same cached input:
#   wav2ima       wav2ima IN OUT
#   wav2ima-pipe  cat IN | wav2ima /dev/stdin OUT
#   plain         the plain reference build
#   cat           cat IN > /dev/null
#   baseline      wav2ima built from the git revision in $BASELINE, if set
# and the decoders, over the same audio:
#   ima2wav           ima2wav on wav2ima's stream of IN
#   ffmpeg-decode     ffmpeg decoding its own IMA ADPCM WAV of IN to PCM, if
#                     ffmpeg is installed
#   baseline-ima2wav  ima2wav built from $BASELINE, if set
# and, with WASI set to a WASI build folder, both WebAssembly programs run
# by node (wasi, wasi-ima2wav).
#
#   bench/throughput.sh [SIZE_MIB] [ROUNDS] [KIND]     (defaults: 256 5 sweep)
#   BASELINE=HEAD~1 bench/throughput.sh                 (an earlier design beside it)
#   WASI=build-wasi bench/throughput.sh                 (the WASI build in node beside it)
#
# Prints the median MB/s (10^6 bytes of WAV input per second) of each, its
# time relative to wav2ima, and the peak resident set of each converter.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-256}
rounds=${2:-5}
kind=${3:-sweep}

build() {  # build DIR [CMAKE ARGS...]: a Release build of the programs alone
  local dir=$1
  shift
  cmake -S "${src:-.}" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DWAV2IMA_TESTS=OFF "$@" >/dev/null
  cmake --build "$dir" -j2 >/dev/null
}
build build-bench
build build-bench-plain -DWAV2IMA_PLAIN_ENCODER=ON

work=$(mktemp -d "${TMPDIR:-/tmp}/wav2ima-bench-XXXXXX")
cleanup() {
  [ -n "${BASELINE:-}" ] && git worktree remove --force "$work/baseline" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

declare -A command
command[wav2ima]="build-bench/wav2ima '$work/in.wav' '$work/wav2ima.ima'"
command[wav2ima-pipe]="cat '$work/in.wav' | build-bench/wav2ima /dev/stdin '$work/wav2ima-pipe.ima'"
command[plain]="build-bench-plain/wav2ima '$work/in.wav' '$work/plain.ima'"
command[cat]="cat '$work/in.wav' > /dev/null"
command[ima2wav]="build-bench/ima2wav '$work/wav2ima.ima' '$work/ima2wav.wav'"
command[ffmpeg-decode]="ffmpeg -loglevel error -y -i '$work/ff.wav' -c:a pcm_s16le '$work/ffmpeg.wav'"
tools=(wav2ima wav2ima-pipe plain cat)
decoders=(ima2wav)
decode_reference=ima2wav
if command -v ffmpeg >/dev/null; then
  decoders+=(ffmpeg-decode)
  decode_reference=ffmpeg-decode
fi
if [ -n "${BASELINE:-}" ]; then
  git worktree add --detach "$work/baseline" "$BASELINE" >/dev/null 2>&1
  src="$work/baseline" build "$work/baseline/build"
  command[baseline]="'$work/baseline/build/wav2ima' '$work/in.wav' '$work/baseline.ima'"
  command[baseline-ima2wav]="'$work/baseline/build/ima2wav' '$work/wav2ima.ima' '$work/baseline-ima2wav.wav'"
  tools+=(baseline)
  decoders+=(baseline-ima2wav)
fi

if [ -n "${WASI:-}" ]; then
  # The package's command runner, as the WASI build makes it.
  run_wasi="env -C '$work' node '$PWD/$WASI/wasi-run.mjs'"
  command[wasi]="$run_wasi '$PWD/$WASI/wav2ima.wasm' in.wav wasi.ima"
  command[wasi-ima2wav]="$run_wasi '$PWD/$WASI/ima2wav.wasm' wav2ima.ima wasi-ima2wav.wav"
  tools+=(wasi)
  decoders+=(wasi-ima2wav)
fi

bytes=$((size_mib * 1024 * 1024))
build-bench/wavgen "$kind" $(((bytes - 44) / 4)) "$work/in.wav"
bytes=$(stat -c %s "$work/in.wav")
cat "$work/in.wav" >/dev/null  # into the page cache
build-bench/wav2ima "$work/in.wav" "$work/wav2ima.ima" >/dev/null
if command -v ffmpeg >/dev/null; then
  ffmpeg -loglevel error -y -i "$work/in.wav" -c:a adpcm_ima_wav "$work/ff.wav"
fi

seconds() {  # runs the shell command, prints its wall time in seconds
  local start end
  # The writeback of the outputs before must not share the cores with it.
  sync
  start=$(date +%s%N)
  sh -c "$1" >/dev/null 2>&1
  end=$(date +%s%N)
  echo "$(((end - start) / 1000))e-6" | awk '{ printf "%.6f\n", $1 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_kib() { /usr/bin/time -f %M sh -c "exec $1" 2>&1 >/dev/null | tail -n 1; }

declare -A times
for ((r = 1; r <= rounds; r++)); do
  for tool in "${tools[@]}" "${decoders[@]}"; do
    times[$tool]+="$(seconds "${command[$tool]}") "
  done
done
for tool in wav2ima-pipe plain ${BASELINE:+baseline} ${WASI:+wasi}; do
  cmp "$work/wav2ima.ima" "$work/$tool.ima"
done
[ -z "${BASELINE:-}" ] || cmp "$work/ima2wav.wav" "$work/baseline-ima2wav.wav"
[ -z "${WASI:-}" ] || cmp "$work/ima2wav.wav" "$work/wasi-ima2wav.wav"

printf '%s MiB %s WAV, %s rounds, %s\n' "$size_mib" "$kind" "$rounds" \
  "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
report() {  # report REFERENCE TOOLS...: each tool's rate, median and time relative to REFERENCE
  local reference=$1 tool t rate ratio rss
  shift
  local reference_time
  reference_time=$(echo "${times[$reference]}" | tr ' ' '\n' | grep . | median)
  for tool in "$@"; do
    t=$(echo "${times[$tool]}" | tr ' ' '\n' | grep . | median)
    rate=$(awk -v b="$bytes" -v t="$t" 'BEGIN { printf "%.0f", b / t / 1e6 }')
    ratio=$(awk -v t="$t" -v r="$reference_time" 'BEGIN { printf "%.2f", t / r }')
    case $tool in
      cat | wav2ima-pipe) rss="" ;;
      *) rss="peak RSS $(peak_kib "${command[$tool]}") KiB" ;;
    esac
    printf '%-16s %6s MB/s  median %.3f s  %sx %s  %s\n' "$tool" "$rate" "$t" "$ratio" \
      "$reference" "$rss"
  done
}
echo "encoders (MB/s of WAV read):"
report wav2ima "${tools[@]}"
echo "decoders (MB/s of WAV written):"
report "$decode_reference" "${decoders[@]}"
