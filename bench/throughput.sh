#!/usr/bin/env bash
# Whole-process conversion speed: wav2ima, the plain reference build and
# `cat IN > /dev/null`, measured in the same run over the same cached input.
#
#   bench/throughput.sh [SIZE_MIB] [ROUNDS] [KIND]     (defaults: 256 5 sweep)
#
# Prints the median MB/s (10^6 bytes of WAV input per second) of each, and
# the peak resident set of each converter.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-256}
rounds=${2:-5}
kind=${3:-sweep}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DWAV2IMA_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
cmake -S . -B build-bench-plain -DCMAKE_BUILD_TYPE=Release -DWAV2IMA_TESTS=OFF \
  -DWAV2IMA_PLAIN_ENCODER=ON >/dev/null
cmake --build build-bench-plain -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/wav2ima-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
bytes=$((size_mib * 1024 * 1024))
build-bench/wavgen "$kind" $(((bytes - 44) / 4)) "$work/in.wav"
bytes=$(stat -c %s "$work/in.wav")
cat "$work/in.wav" >/dev/null  # into the page cache

seconds() {  # runs the command, prints its wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(((end - start) / 1000))e-6" | awk '{ printf "%.6f\n", $1 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

declare -A times
for ((r = 1; r <= rounds; r++)); do
  times[cat]+="$(seconds sh -c "cat '$work/in.wav' > /dev/null") "
  times[wav2ima]+="$(seconds build-bench/wav2ima "$work/in.wav" "$work/out.ima") "
  times[plain]+="$(seconds build-bench-plain/wav2ima "$work/in.wav" "$work/plain.ima") "
done
cmp "$work/out.ima" "$work/plain.ima"

printf '%s MiB %s WAV, %s rounds, %s\n' "$size_mib" "$kind" "$rounds" \
  "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
for tool in wav2ima plain cat; do
  t=$(echo "${times[$tool]}" | tr ' ' '\n' | grep . | median)
  rate=$(awk -v b="$bytes" -v t="$t" 'BEGIN { printf "%.0f", b / t / 1e6 }')
  case $tool in
    wav2ima) rss="peak RSS $(peak_kib build-bench/wav2ima "$work/in.wav" "$work/out.ima") KiB" ;;
    plain) rss="peak RSS $(peak_kib build-bench-plain/wav2ima "$work/in.wav" "$work/plain.ima") KiB" ;;
    cat) rss="" ;;
  esac
  printf '%-8s %6s MB/s  median %.3f s  %s\n' "$tool" "$rate" "$t" "$rss"
done
