# Both programs as WebAssembly for WASI (wav2ima.wasm, ima2wav.wasm), built
# with Debian's clang, wasi-libc and libc++ for wasm32 (wasi-libc,
# libc++-14-dev-wasm32, libc++abi-14-dev-wasm32, libclang-rt-14-dev-wasm32),
# and the browser page around them in web/ of the build folder:
#
#   cmake -S . -B build-wasi -DCMAKE_TOOLCHAIN_FILE=cmake/wasi.cmake
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
# Platform/WASI.cmake: what CMake needs to know of the system.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# libc++ for wasm32 is built without exceptions, as the converter is.
set(CMAKE_CXX_FLAGS_INIT -fno-exceptions)
# The programs ship to browsers and in the npm package: without the debug
# sections the libraries bring, each is a quarter of its size.
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,--strip-debug)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# What runs the programs here: node, through the npm package's command
# runner as the build makes it (npm/CMakeLists.txt).
find_program(NODE_PROGRAM node)
if(NODE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NODE_PROGRAM} ${CMAKE_BINARY_DIR}/wasi-run.mjs)
endif()
