# Sourced by the scripts of this repository: installs Debian packages that are
# missing, and only those. `apt-get update` runs once per process, before the
# first install; an index that fails to download does not stop it (a mirror
# caught mid-sync serves one architecture's index short): only a package that
# cannot be had does. Packages of another architecture ("musl-dev:armhf")
# have dpkg take that architecture first. Needs root (CI runs as root on a
# fresh Debian machine).

sav3_apt_updated=${sav3_apt_updated:-no}

# The Debian packages of each job, named here only.
# shellcheck disable=SC2034 # used by the scripts that source this file
build_packages=(cmake ninja-build g++ libgtest-dev googletest)
# shellcheck disable=SC2034
sandbox_packages=(busybox-static tzdata strace)
# shellcheck disable=SC2034
arm_packages=(g++-arm-linux-gnueabihf qemu-user-static)
# The ARMv5TE soft-float build (armel) and the builds against musl (host and
# armhf).
# shellcheck disable=SC2034
armel_packages=(g++-arm-linux-gnueabi qemu-user-static)
# shellcheck disable=SC2034
musl_packages=(musl-tools musl-dev musl-dev:armhf)
# Rehearsing many device backups at once: the job runner and the JSON tool.
# shellcheck disable=SC2034
fleet_packages=(parallel jq)
# The virtual board (scripts/board): the emulator, the file system tools for
# its disk images, the cross compiler for its no-flush wrapper; its kernel
# and busybox are armhf packages fetched by scripts/board/board.sh.
# shellcheck disable=SC2034
board_packages=(qemu-system-arm f2fs-tools e2fsprogs cpio gcc-arm-linux-gnueabihf qemu-user-static)
# clang only recommends its sanitizer and fuzzer runtimes; packages install
# without recommendations.
# shellcheck disable=SC2034
fuzz_packages=(clang libclang-rt-dev)
# shellcheck disable=SC2034
test_packages=("${build_packages[@]}" "${sandbox_packages[@]}" "${arm_packages[@]}" "${armel_packages[@]}"
  "${musl_packages[@]}" "${fuzz_packages[@]}" "${fleet_packages[@]}" "${board_packages[@]}")

# ensure_architecture ARCH: dpkg takes packages of ARCH (once; the next
# apt_update fetches its index).
ensure_architecture() {
  dpkg --print-architecture | grep -qx "$1" && return 0
  dpkg --print-foreign-architectures | grep -qx "$1" && return 0
  dpkg --add-architecture "$1" || return 1
  sav3_apt_updated=no
}

# apt_update: the package index, once per process. A failed index is told on
# standard error and tolerated: what is needed is checked where it is
# installed or downloaded, and only its absence fails.
apt_update() {
  [ "$sav3_apt_updated" != yes ] || return 0
  local out
  if ! out=$(DEBIAN_FRONTEND=noninteractive apt-get update -qq 2>&1); then
    echo "apt-get update: an index failed; going on with the others:" >&2
    grep -E '^(E|W|Err)' <<<"$out" | head -n 4 >&2 || true
  fi
  sav3_apt_updated=yes
}

# ensure_packages PKG...: returns non-zero when a package is missing and cannot
# be installed (not root, no apt-get, install failed).
ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "missing packages (need root and apt-get to install): ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}" >&2
  for pkg in "${missing[@]}"; do
    case $pkg in *:*) ensure_architecture "${pkg#*:}" || return 1 ;; esac
  done
  apt_update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}
