#!/usr/bin/env bash
# The sound of each imaenc level beside ffmpeg's IMA ADPCM encoder (a black
# box, decoded by ffmpeg), on a corpus of real recordings (corpus.sh), and
# each level's speed on one file of the whole corpus joined.
#
#   bench/quality/quality.sh [BUILD] [CORPUS] [ROUNDS]     # defaults: build, build/corpus, 3
#
# Prints a line per file (SNR over the rule for each level and for ffmpeg,
# SNR then segmental SNR), then the table: each level's mean gain over the
# rule, the least gain on any file (SNR / segmental), the median of the
# per-file gains over ffmpeg's default and over its -trellis 8, and MB/s of
# WAV through `imaenc` (median of ROUNDS, input in the page cache) on one
# core (taskset), which sets the default level, and on all of them, where
# the search levels run the two channels side by side.
set -euo pipefail
build=$(realpath "${1:-build}")
corpus=${2:-$build/corpus}
rounds=${3:-3}
here=$(dirname "$0")
[ -d "$corpus" ] || bash "$here/corpus.sh" "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
levels=$(seq 0 9)

# seconds COMMAND...: the wall time of one run.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

results=$work/results
for wav in "$corpus"/*.wav; do
  name=$(basename "$wav" .wav)
  for level in $levels; do
    "$build/imaenc" -"$level" "$wav" "$work/x.ima"
    "$build/ima2wav" "$work/x.ima" "$work/x.wav" >/dev/null
    echo "$name L$level $("$build/wavdiff" "$wav" "$work/x.wav")" >>"$results"
  done
  for peer in default trellis; do
    options=()
    [ "$peer" = trellis ] && options=(-trellis 8)
    t=$(seconds ffmpeg -nostdin -y -i "$wav" -c:a adpcm_ima_wav "${options[@]}" "$work/ff.wav")
    ffmpeg -nostdin -loglevel error -y -i "$work/ff.wav" -c:a pcm_s16le "$work/ffd.wav"
    echo "$name $peer $("$build/wavdiff" "$wav" "$work/ffd.wav") seconds $t bytes $(stat -c %s "$wav")" \
      >>"$results"
  done
done

# Per file: each level's and ffmpeg's gain over the rule (L0).
awk '
  { snr[$1, $2] = $4; seg[$1, $2] = $6; names[$1] = 1 }
  END {
    for (n in names) {
      line = sprintf("%-30s", n)
      split("L1 L2 L3 L4 L5 L6 L7 L8 L9 default trellis", keys, " ")
      for (k = 1; k <= 11; ++k)
        line = line sprintf(" %s %+.2f/%+.2f", keys[k], snr[n, keys[k]] - snr[n, "L0"],
                            seg[n, keys[k]] - seg[n, "L0"])
      print line
    }
  }' "$results" | sort

# Speed on the whole corpus as one file.
sox "$corpus"/*.wav "$work/all.wav"
bytes=$(stat -c %s "$work/all.wav")
cat "$work/all.wav" >/dev/null
speed() {
  local t
  t=$(for _ in $(seq "$rounds"); do seconds "$@" "$work/all.wav" "$work/all.ima"; done | median)
  echo "$bytes / $t / 1000000" | bc -l
}
one_core=(taskset -c 0)
wav2ima_speed=$(speed "${one_core[@]}" "$build/wav2ima")
default_level=$("$build/imaenc" --help | sed -n 's/.*(default -\([0-9]\)).*/\1/p')
{
  for level in $levels; do
    echo "speed L$level $(speed "${one_core[@]}" "$build/imaenc" -"$level") $(speed "$build/imaenc" -"$level")"
  done
  awk '$2 == "default" || $2 == "trellis" { s[$2] += $8; b[$2] += $10 }
       END { for (p in s) print "speed", p, b[p] / s[p] / 1000000, b[p] / s[p] / 1000000 }' "$results"
} >"$work/speeds"

echo
echo "wav2ima: $(printf '%.0f' "$wav2ima_speed") MB/s on one core"
echo
echo "| level | mean dB over the rule | least over the rule (SNR / segmental) | median dB over ffmpeg | median dB over ffmpeg -trellis 8 | MB/s, one core / two |"
echo "|---|---|---|---|---|---|"
awk -v speeds="$work/speeds" -v default_level="$default_level" '
  function median(list, n,   i, j, t) {
    for (i = 2; i <= n; ++i) for (j = i; j > 1 && list[j - 1] > list[j]; --j) {
      t = list[j]; list[j] = list[j - 1]; list[j - 1] = t
    }
    return n % 2 ? list[(n + 1) / 2] : (list[n / 2] + list[n / 2 + 1]) / 2
  }
  BEGIN { while ((getline line < speeds) > 0) { split(line, f, " "); mbs[f[2]] = f[3]; both[f[2]] = f[4] } }
  { snr[$1, $2] = $4; seg[$1, $2] = $6; names[$1] = 1 }
  END {
    for (level = 0; level <= 9; ++level) {
      key = "L" level; n = 0; sum = 0; least = 1e9; least_seg = 1e9
      for (name in names) {
        ++n
        gain = snr[name, key] - snr[name, "L0"]
        sum += gain
        if (gain < least) least = gain
        g = seg[name, key] - seg[name, "L0"]
        if (g < least_seg) least_seg = g
        over_default[n] = snr[name, key] - snr[name, "default"]
        over_trellis[n] = snr[name, key] - snr[name, "trellis"]
      }
      printf "| %s | %+.2f | %+.2f / %+.2f | %+.2f | %+.2f | %.1f / %.1f |\n",
        "-" level (level == default_level ? " (default)" : ""), sum / n, least, least_seg,
        median(over_default, n), median(over_trellis, n), mbs[key], both[key]
    }
    n = 0; sum_d = 0; sum_t = 0
    for (name in names) { ++n; sum_d += snr[name, "default"] - snr[name, "L0"]; sum_t += snr[name, "trellis"] - snr[name, "L0"] }
    printf "| ffmpeg | %+.2f | | 0 | | %.1f |\n", sum_d / n, mbs["default"]
    printf "| ffmpeg -trellis 8 | %+.2f | | | 0 | %.2f |\n", sum_t / n, mbs["trellis"]
  }' "$results"
