# Sourced by the scripts of this repository: installs Debian packages that are
# missing, and only those. `apt-get update` runs once per process, before the
# first install. Needs root (CI runs as root on a fresh Debian machine).

sav3_apt_updated=${sav3_apt_updated:-no}

# The Debian packages of each job, named here only.
# shellcheck disable=SC2034 # used by the scripts that source this file
build_packages=(cmake ninja-build g++ libgtest-dev googletest)
# shellcheck disable=SC2034
sandbox_packages=(busybox-static tzdata strace)
# shellcheck disable=SC2034
arm_packages=(g++-arm-linux-gnueabihf qemu-user-static)
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
test_packages=("${build_packages[@]}" "${sandbox_packages[@]}" "${arm_packages[@]}" "${fuzz_packages[@]}"
  "${fleet_packages[@]}" "${board_packages[@]}")

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
  if [ "$sav3_apt_updated" != yes ]; then
    DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2 || return 1
    sav3_apt_updated=yes
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}
