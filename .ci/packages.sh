# Sourced by the CI scripts: installs Debian's packages a script found
# missing, waiting for another apt-get to let go of its lock rather than
# failing. `need` holds the packages' names.
install_needed() {
  [ $# -gt 0 ] || return 0
  apt-get -o DPkg::Lock::Timeout=600 update
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y "$@"
}
