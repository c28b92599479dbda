#!/usr/bin/env bash
# Makes the quality benchmark's corpus: 12-second clips of real recordings
# from Debian's packages, 16-bit stereo 44.1 kHz: a game's orchestral music
# (wesnoth-1.16-music), another game's music and effects (frozen-bubble-data),
# drum kits (hydrogen-drumkits), speech (espeak-ng), and loud masters made by
# driving music into the clip, as mastered for loudness. Nothing here is the
# project's own recording.
#
#   bench/quality/corpus.sh OUTDIR
set -euo pipefail
out=${1:?usage: corpus.sh OUTDIR}
mkdir -p "$out"
need=()
command -v ffmpeg >/dev/null || need+=(ffmpeg)
command -v sox >/dev/null || need+=(sox)
command -v espeak-ng >/dev/null || need+=(espeak-ng)
[ -d /usr/share/games/wesnoth/1.16/data/core/music ] || need+=(wesnoth-1.16-music)
[ -d /usr/share/games/frozen-bubble/snd ] || need+=(frozen-bubble-data)
[ -d /usr/share/hydrogen/data/drumkits ] || need+=(hydrogen-drumkits)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -o DPkg::Lock::Timeout=300
  DEBIAN_FRONTEND=noninteractive apt-get install -y -o DPkg::Lock::Timeout=300 \
    --no-install-recommends "${need[@]}"
fi

# clip SOURCE START NAME [FILTER]: 12 s from START, as the converter takes it.
clip() {
  ffmpeg -nostdin -loglevel error -y -ss "$2" -t 12 -i "$1" ${4:+-af "$4"} \
    -ar 44100 -ac 2 -c:a pcm_s16le -bitexact -map_metadata -1 -fflags +bitexact "$out/$3.wav"
}

music=/usr/share/games/wesnoth/1.16/data/core/music
for name in battle-epic breaking_the_chains casualties_of_war frantic heroes_rite \
  journeys_end knalgan_theme loyalists northerners the_city_falls underground wanderer; do
  clip "$music/$name.ogg" 30 "music-$name"
done
for name in frantic northerners the_city_falls; do
  clip "$music/$name.ogg" 60 "loud-$name" "volume=12dB,alimiter=limit=1:level=false"
done
snd=/usr/share/games/frozen-bubble/snd
clip "$snd/frozen-mainzik-1p.ogg" 20 music-frozen-bubble
clip "$snd/introzik.ogg" 0 music-frozen-bubble-intro

# Effects and drum hits one after another, each as recorded, then the 12 s.
sequence() {
  local name=$1; shift
  local parts=()
  for f in "$@"; do
    parts+=("$out/.part-${#parts[@]}.wav")
    sox "$f" -r 44100 -c 2 -b 16 "${parts[-1]}" 2>/dev/null
  done
  sox "${parts[@]}" "$out/.joined.wav"
  clip "$out/.joined.wav" 0 "$name"
  rm -f "${parts[@]}" "$out/.joined.wav"
}
mapfile -t effects < <(ls "$snd"/*.ogg | grep -v zik | sort)
sequence effects-frozen-bubble "${effects[@]}"
kits=/usr/share/hydrogen/data/drumkits
for kit in Audiophob ColomboAcousticDrumkit HardElectro1; do
  [ -d "$kits/$kit" ] || continue
  mapfile -t hits < <(ls "$kits/$kit"/*.wav "$kits/$kit"/*.flac 2>/dev/null | sort | head -n 24)
  sequence "drums-$kit" "${hits[@]}" "${hits[@]}"
done

# Speech: espeak-ng's voices, one sentence after another.
text="The quick brown fox jumps over the lazy dog. Sound assets stream from flash on small \
boards, and every player decodes the same four bits a sample. Press start to continue."
for voice in en-us en-gb+f3 de fr; do
  espeak-ng -v "$voice" -w "$out/.speech.wav" "$text"
  clip "$out/.speech.wav" 0 "speech-${voice%%+*}"
  rm -f "$out/.speech.wav"
done
ls "$out"/*.wav | wc -l
