# Installing Debian packages for the project's scripts, which source this.

# The ones of the given Debian packages that are not installed, one a line.
missing_packages() {
  local package
  for package; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      echo "$package"
  done
}

# The first of the given packages that apt knows, for what releases package
# differently: Debian 12 has clang 14's sanitizer runtimes in
# libclang-rt-14-dev, Ubuntu 22.04 in libclang-common-14-dev. As root, reads
# the package lists first when they know none of them (as on a fresh system);
# otherwise the first one.
available_package() {
  local package
  for package; do
    if apt-cache show "$package" >/dev/null 2>&1; then
      echo "$package"
      return
    fi
  done
  if ((EUID == 0)) && command -v apt-get >/dev/null && [[ -z ${package_lists_read-} ]]; then
    package_lists_read=yes
    apt-get update -q >&2
    available_package "$@"
    return
  fi
  echo "$1"
}

# Installs the given packages with apt-get, as root; as anyone else, or where
# there is no apt-get, says in one line what is missing and how to install it,
# and ends the script.
install_packages() {
  (($#)) || return 0
  local install="apt-get install -y --no-install-recommends $*"
  if ! command -v apt-get >/dev/null; then
    echo "$0: needs $* (as Debian names them), and there is no apt-get here: install them with this system's package manager and run it again" >&2
    exit 1
  fi
  if ((EUID != 0)); then
    echo "$0: needs $*; as root, run: apt-get update && $install" >&2
    exit 1
  fi
  echo "Installing: $*"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}
