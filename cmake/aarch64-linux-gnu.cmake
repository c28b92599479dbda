# 64-bit ARM Linux (Raspberry Pi 4 and 5, ARM servers and boards), built with
# Debian's g++-aarch64-linux-gnu and tested under qemu-user (qemu-aarch64):
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(cross_triple aarch64-linux-gnu)
set(cross_processor aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
