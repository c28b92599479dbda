# 32-bit ARM Linux with hardware floating point (Raspberry Pi OS 32-bit,
# older boards), where `long` is 32 bits: Debian's g++-arm-linux-gnueabihf,
# tested under qemu-user (qemu-arm):
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(cross_triple arm-linux-gnueabihf)
set(cross_processor arm)
# The static release's name for the machine, as Debian and Raspberry Pi OS call it.
set(WAV2IMA_RELEASE_MACHINE armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
