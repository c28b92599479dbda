#!/bin/sh
# What differs between systems stays in platform/: the modules above it name
# no system or C library and call none of the calls whose names differ, and
# platform/ includes none of them.
cd "$(dirname "$0")/.." || exit 1
status=0
if grep -nE '^#(el)?if.*(_WIN32|__GLIBC__|__APPLE__|__linux__|__wasi__|BSD)|fopencookie|funopen|(getc|putc)_unlocked|_(getc|putc)_nolock|fseeko|ftello|_fseeki64|_ftelli64' \
  app/* wave/* adpcm/*; then
  echo "above: a system named, or a call that belongs in platform/"
  status=1
fi
if grep -nE '#include "(app|wave|adpcm)/' platform/*; then
  echo "above: platform/ includes a module that stands on it"
  status=1
fi
exit $status
