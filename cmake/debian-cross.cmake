# What the Linux cross toolchains share: Debian's cross compiler for
# `cross_triple`, its libraries under /usr/<triple>, and qemu-user to run
# what it builds (the tests, and every program they start). Included by
# aarch64-linux-gnu.cmake, arm-linux-gnueabihf.cmake and
# s390x-linux-gnu.cmake, which set the triple.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_processor})
set(CMAKE_C_COMPILER ${cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triple}-g++)

# Libraries and packages from the cross prefix (and any prefix given with
# CMAKE_PREFIX_PATH, such as a cross-built GoogleTest), programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# -L: the dynamic loader and libraries of the target, for programs that are
# not linked statically.
find_program(QEMU_PROGRAM NAMES qemu-${cross_processor} qemu-${cross_processor}-static)
if(QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_PROGRAM} -L /usr/${cross_triple})
endif()
