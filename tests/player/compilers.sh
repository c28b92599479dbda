#!/bin/sh
# The header where a build's language falls short or its warnings are strict:
# before C99 one error, naming C99, and nothing after it; as C++ no warning
# under the cast warnings.
#
#   compilers.sh DIR SOURCE_DIR CC CXX [CXX_WARNINGS...]
set -eu
dir=$1 source=$2 cc=$3 cxx=$4
shift 4
mkdir -p "$dir"
printf '#include "player/ima_player.h"\n' >"$dir/include_only.c"
if "$cc" -std=c89 -pedantic -I"$source" -c "$dir/include_only.c" -o "$dir/c89.o" 2>"$dir/c89.txt"; then
  echo "the header built as C89" >&2
  exit 1
fi
[ "$(grep -c 'error:' "$dir/c89.txt")" -eq 1 ] || { cat "$dir/c89.txt" >&2; exit 1; }
grep -q 'C99' "$dir/c89.txt"
cat >"$dir/every_call.cpp" <<'CODE'
#include "player/ima_player.h"
int main() {
  const uint8_t stream[3] = {0x07, 0xF8, 0x3C};
  int16_t frames[6];
  ImaPlayer player;
  ima_player_reset(&player);
  ima_player_skip(&player, stream, 1);
  const ImaPlayer saved = player;
  ima_player_decode(&player, stream + 1, 2, frames);
  player = saved;
  ImaPlayerMark mark = {1, saved};
  if (ima_player_seek(&player, &mark, 1, 2) != 1) return 1;
  return ima_player_move_narrow(7, 3) == ima_player_move(7, 3) ? 0 : 1;
}
CODE
"$cxx" -std=c++11 -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wold-style-cast "$@" \
  -Werror -I"$source" "$dir/every_call.cpp" -o "$dir/every_call"
"$dir/every_call"
