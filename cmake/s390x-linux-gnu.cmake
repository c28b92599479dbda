# IBM Z Linux, big-endian: the build that runs the byte-order branches the
# little-endian machines never take. Debian's g++-s390x-linux-gnu, tested
# under qemu-user (qemu-s390x):
#
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
set(cross_triple s390x-linux-gnu)
set(cross_processor s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
