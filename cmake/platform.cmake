# Which of platform/'s system files this build compiles, and what they need:
# platform_system_sources, _flags, _definitions and _libraries. The pipe
# view's stream takes whichever call the C library offers for a stream of the
# program's own functions, found by trying it, not by the library's name.
include(CheckCXXSymbolExists)
include(CheckIncludeFileCXX)
include(CMakePushCheckState)

set(platform_system_flags "")
set(platform_system_definitions "")
set(platform_system_libraries "")

# Threads for the search's two channels, where the system has them (the
# encoder's library takes this file alone).
set(platform_parallel_libraries "")
if(CMAKE_SYSTEM_NAME STREQUAL "WASI")
  set(platform_parallel_source platform/parallel_serial.cpp)
else()
  set(THREADS_PREFER_PTHREAD_FLAG ON)
  find_package(Threads REQUIRED)
  set(platform_parallel_source platform/parallel_threads.cpp)
  set(platform_parallel_libraries Threads::Threads)
endif()

if(WIN32)
  # The C runtime makes no stream of a program's own functions.
  set(platform_system_sources platform/system_windows.cpp)
  return()
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "WASI")
  set(platform_system_sources platform/descriptors_posix.cpp platform/system_wasi.cpp)
else()
  set(platform_system_sources platform/descriptors_posix.cpp platform/system_posix.cpp)
  # Which file systems vouch for no length (procfs, sysfs), where the system
  # names them (Linux: fstatfs and its magic numbers).
  check_include_file_cxx(linux/magic.h WAV2IMA_HAVE_LINUX_MAGIC_H)
  if(WAV2IMA_HAVE_LINUX_MAGIC_H)
    check_cxx_symbol_exists(fstatfs sys/vfs.h WAV2IMA_HAVE_LINUX_MAGIC)
  endif()
  if(WAV2IMA_HAVE_LINUX_MAGIC)
    list(APPEND platform_system_definitions WAV2IMA_HAVE_LINUX_MAGIC)
  endif()
endif()

# The probe's flags and libraries hold for the probe alone.
cmake_push_check_state(RESET)
if(WAV2IMA_FUNOPEN AND NOT APPLE AND NOT CMAKE_SYSTEM_NAME MATCHES "BSD")
  # libbsd's overlay puts funopen into <stdio.h>, where macOS and the BSDs have it.
  find_path(WAV2IMA_LIBBSD_OVERLAY bsd/stdio.h)
  find_library(WAV2IMA_LIBBSD bsd)
  if(NOT WAV2IMA_LIBBSD_OVERLAY OR NOT WAV2IMA_LIBBSD)
    message(FATAL_ERROR "WAV2IMA_FUNOPEN needs libbsd on this system (apt-get install libbsd-dev)")
  endif()
  set(platform_system_flags -isystem ${WAV2IMA_LIBBSD_OVERLAY}/bsd -DLIBBSD_OVERLAY)
  set(platform_system_libraries ${WAV2IMA_LIBBSD})
  set(CMAKE_REQUIRED_FLAGS "-isystem ${WAV2IMA_LIBBSD_OVERLAY}/bsd -DLIBBSD_OVERLAY")
  set(CMAKE_REQUIRED_LIBRARIES ${WAV2IMA_LIBBSD})
elseif(NOT WAV2IMA_FUNOPEN)
  check_cxx_symbol_exists(fopencookie stdio.h WAV2IMA_HAVE_FOPENCOOKIE)
endif()
if(NOT WAV2IMA_HAVE_FOPENCOOKIE)
  check_cxx_symbol_exists(funopen stdio.h WAV2IMA_HAVE_FUNOPEN)
endif()
cmake_pop_check_state()

if(WAV2IMA_FUNOPEN AND NOT WAV2IMA_HAVE_FUNOPEN)
  message(FATAL_ERROR "WAV2IMA_FUNOPEN: funopen was not found")
elseif(WAV2IMA_HAVE_FOPENCOOKIE AND NOT WAV2IMA_FUNOPEN)
  list(APPEND platform_system_sources platform/pipe_stream_fopencookie.cpp)
elseif(WAV2IMA_HAVE_FUNOPEN)
  list(APPEND platform_system_sources platform/pipe_stream_funopen.cpp)
else()
  message(FATAL_ERROR "Neither fopencookie nor funopen was found: the C library makes no stream "
                      "of a program's own functions, which reading a pipe needs")
endif()
