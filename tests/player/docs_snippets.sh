#!/bin/sh
# Builds and runs each C snippet of docs/player.md (a ```c block after a
# "<!-- snippet: NAME -->" line) with docs_snippets.c, under the sanitizers.
#
#   docs_snippets.sh DIR SOURCE_DIR CC
set -eu
dir=$1 source=$2 cc=$3
rm -rf "$dir"
mkdir -p "$dir"
awk -v dir="$dir" '
  /^<!-- snippet: [a-z]+ -->$/ { name = $3; next }
  name != "" && /^```c$/ { out = dir "/" name "/snippet.c"; system("mkdir -p " dir "/" name); next }
  out != "" && /^```$/ { close(out); out = ""; name = ""; next }
  out != "" { print > out }
' "$source/docs/player.md"
count=0
for snippet in "$dir"/*/snippet.c; do
  name=$(basename "$(dirname "$snippet")")
  "$cc" -std=c99 -Wall -Wextra -Werror -g -fsanitize=address,undefined -fno-sanitize-recover=all \
    -DSNIPPET_"$name" -I"$source/player" -I"$(dirname "$snippet")" \
    "$source/tests/player/docs_snippets.c" -o "$dir/$name/run"
  "$dir/$name/run"
  echo "$name: runs as the docs give it"
  count=$((count + 1))
done
[ "$count" -eq 5 ]
