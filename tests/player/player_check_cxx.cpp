// The player check built as C++: the same two files, one translation unit.
#include "tests/player/host_main.c"
#include "tests/player/streams.c"
