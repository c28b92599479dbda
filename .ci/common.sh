# Sourced by the CI scripts: what several of them do, written once.

# Installs Debian's packages a script found missing, waiting for another
# apt-get to let go of its lock rather than failing.
install_needed() {
  [ $# -gt 0 ] || return 0
  apt-get -o DPkg::Lock::Timeout=600 update
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y "$@"
}

# cross_googletest BUILD TOOLCHAIN: GoogleTest from Debian's source, built
# once for the toolchain's machine into BUILD/googletest-install (a second
# run reuses it); prints that folder.
cross_googletest() {
  local build=$1 toolchain=$2
  local installed=$PWD/$build/googletest-install
  if [ ! -f "$installed/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$build/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$installed" >/dev/null
    cmake --build "$build/googletest" -j2 >/dev/null
    cmake --install "$build/googletest" >/dev/null
  fi
  echo "$installed"
}
