#!/bin/sh
# What differs between systems stays in platform/'s system files: the
# modules above it name no system or C library, call none of the calls whose
# names differ and include none of platform/'s own headers, and platform/'s
# shared files choose nothing by system. (Which module includes which, the
# build itself holds: see module_direction.)
cd "$(dirname "$0")/.." || exit 1
status=0
if grep -nE '^#(el)?if.*(_WIN32|__GLIBC__|__APPLE__|__linux__|__wasi__|BSD)|fopencookie|funopen|(getc|putc)_unlocked|_(getc|putc)_nolock|fseeko|ftello|_fseeki64|_ftelli64|#include "platform/(system|pipe_stream)\.h"' \
  app/* wave/* adpcm/*; then
  echo "above: a system named, a call or a header that belongs in platform/"
  status=1
fi
if grep -nE '^#(el)?if' platform/files.cpp platform/pipe_view.cpp platform/replay.cpp; then
  echo "above: a shared file of platform/ chooses by system; the system files are for that"
  status=1
fi
exit $status
