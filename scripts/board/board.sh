#!/usr/bin/env bash
# The virtual board: the static ARM tool on a real 32-bit ARM kernel and file
# system, emulated whole (qemu-system-arm, machine virt), so that a power cut
# (the emulator killed, or the board's own reset) loses what the kernel had
# not written to the disk. Built from Debian packages only: the armhf kernel
# (resolved from the linux-image-armmp metapackage) and busybox-static:armhf,
# downloaded and unpacked under build/board/cache, never installed.
#
#   board.sh check
#       exit 0 when this machine can run the board (root, packages); else
#       print the reason and exit 77.
#   board.sh make BOARD LAYOUT TOOL LEGACY_DIR
#       a board in the folder BOARD (absent or empty): the device root made
#       by `sandbox.sh create --board` from LEGACY_DIR, with the ARM TOOL as
#       /usr/sbin/sav3-migrate, its init script contrib/sysvinit/sav3-migrate
#       as /etc/init.d/sav3-migrate and the dummy daemons, on the disk images
#       of LAYOUT:
#         ext4   everything on one ext4 file system (disk0.img)
#         split  the same, with /usr/sav3 on a second ext4 disk (disk1.img)
#         f2fs   everything on one f2fs file system
#   board.sh boot [OPTION...] BOARD
#       one boot of BOARD; its console goes to BOARD/console.N (N counts the
#       boots) and, with --show, to the standard output as well. Prints how
#       the boot ended: "off" (planned power-off), "cut" (the host killed
#       the emulator at the cut point), "reset" (the board reset itself),
#       "timeout" (killed after --timeout seconds). Options:
#         --setting 1|2    1 (default): the kernel's defaults; 2: metadata
#                          durable early and file data late
#         --cut POINT      before:N, after:N, half:N (of this boot's
#                          commands), pending or done; with --rollback
#                          undo:PHASE (startup) or undo:end
#         --rollback       an undo boot: `sav3-migrate --rollback`, or the
#                          run without arguments that finishes one cut short
#         --delay SECONDS  board time between the cut point and the cut
#         --random SECONDS the board resets itself that long after the tool
#                          started
#         --run tool|noflush|floor   what the start-up runs (startup)
#         --list-first     the trees' listing before the tool runs as well
#         --timeout SECONDS, --show
#   board.sh listing BOARD [N [before]]
#       the trees' listing printed by boot N (default: the last); before:
#       the one it printed before the tool ran (--list-first)
#   board.sh fsck BOARD
#       check the disk images of a board that was powered off cleanly
#       (e2fsck -fn, fsck.f2fs --dry-run); prints the checker's complaints
#
# Emulators are started and killed by their process id only. Each boot runs
# with `-icount shift=0`: board time is one nanosecond per guest instruction
# while the board computes; while it waits (for the disk, for a timer) its
# clock runs with the host's. So the board time of computing steps repeats,
# that of waits for the disk does not (the host is shared), and a delay of
# three commit intervals is that long in real time. The random cut instants
# repeat as instants of board time.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=scripts/packages.sh
. "$here/../packages.sh"
cache=$top/build/board/cache
skip=77
# Disk sizes: the board's init tells its disks apart by them.
root_mib=128
staging_mib=64
# Modules that the board loads, with what they depend on (in the order found).
board_modules=(virtio_mmio virtio_blk virtio_console crc32c_generic crc32_generic ext4 f2fs)

die() {
  echo "board: $*" >&2
  exit 1
}

# fetch: the kernel and busybox packages, unpacked under $cache, once.
fetch() {
  [ -f "$cache/fetched" ] && return 0
  [ "$(id -u)" -eq 0 ] || die "fetching the board's packages needs root"
  ensure_packages "${board_packages[@]}" >&2 || die "cannot install: ${board_packages[*]}"
  ensure_architecture armhf || die "dpkg cannot take armhf packages"
  # A failed index is tolerated: the kernel and busybox below must be had.
  apt_update
  rm -rf "$cache"
  mkdir -p "$cache/debs"
  # The kernel's versioned package, from the metapackage's dependency.
  local kernel
  kernel=$(apt-cache depends linux-image-armmp:armhf | awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')
  kernel=${kernel%:armhf}
  [ -n "$kernel" ] || die "linux-image-armmp:armhf names no kernel package"
  # apt downloads as the user _apt: a folder it may write to.
  chmod 777 "$cache/debs"
  (cd "$cache/debs" && apt-get download -q "$kernel:armhf" busybox-static:armhf >&2) ||
    die "cannot download $kernel:armhf and busybox-static:armhf"
  mkdir -p "$cache/kernel" "$cache/busybox"
  dpkg-deb -x "$cache"/debs/linux-image-*.deb "$cache/kernel"
  dpkg-deb -x "$cache"/debs/busybox-static_*.deb "$cache/busybox"
  echo "$kernel" >"$cache/fetched"
}

# modinfo_field KO FIELD: the values of a field of the module's .modinfo.
modinfo_field() { tr '\0' '\n' <"$1" | sed -n "s/^$2=//p"; }

# module_file NAME: the .ko of a module name or of an alias it provides.
module_file() {
  local name=${1//-/_} found
  found=$(find "$cache/kernel/lib/modules" -name "$name.ko" | head -n 1)
  [ -n "$found" ] || found=$(grep -rlaE "(^|\x00)alias=(crypto-)?$1(\x00|$)" "$cache/kernel/lib/modules" | head -n 1)
  echo "$found"
}

# The load order: each module after what its depends= and softdep= pre:
# fields name (the package ships no modules.dep).
module_order() {
  local -A seen=()
  visit() {
    local ko=$1 name dep
    name=$(basename "$ko" .ko)
    [ -z "${seen[$name]:-}" ] || return 0
    seen[$name]=1
    for dep in $(modinfo_field "$ko" depends | tr ',' ' ') \
      $(modinfo_field "$ko" softdep | sed -n 's/.*pre: *\([^:]*\)\( post:.*\)\{0,1\}$/\1/p'); do
      local file
      file=$(module_file "$dep")
      [ -n "$file" ] || die "module $name needs $dep, which the kernel package does not have"
      visit "$file"
    done
    echo "$name $ko"
  }
  local module file
  for module in "${board_modules[@]}"; do
    file=$(module_file "$module")
    [ -n "$file" ] || die "the kernel package has no module $module"
    visit "$file"
  done
}

# The initramfs (busybox, modules, init, the start-up, the hook, the listing,
# the no-flush wrapper, the cutter of the undo, the floor's commands), remade when one of its sources
# changed; uncompressed, since the emulated board is slow to unpack it.
initramfs() {
  fetch
  local out=$cache/initramfs.cpio stamp
  stamp=$(cat "$here/init" "$here/startup" "$here/hook" "$here/listing" "$here/noflush.c" "$here/cutat.c" "$top/tests/device/expected_commands.txt" \
    "$cache/fetched" | sha256sum | cut -d' ' -f1)
  [ -f "$out" ] && [ "$(cat "$cache/initramfs.stamp" 2>/dev/null)" = "$stamp" ] && return 0
  local dir=$cache/initramfs
  rm -rf "$dir"
  mkdir -p "$dir/bin" "$dir/modules" "$dir/board"
  cp "$cache/busybox/bin/busybox" "$dir/bin/busybox"
  local applet
  for applet in $(qemu-arm-static "$dir/bin/busybox" --list); do
    [ "$applet" = busybox ] || ln -s busybox "$dir/bin/$applet"
  done
  local name ko
  while read -r name ko; do
    cp "$ko" "$dir/modules/$name.ko"
    echo "$name" >>"$dir/modules.order"
  done < <(module_order)
  cp "$here/init" "$dir/init"
  cp "$here/startup" "$here/hook" "$here/listing" "$dir/board/"
  cp "$top/tests/device/expected_commands.txt" "$dir/board/floor-commands"
  arm-linux-gnueabihf-gcc -static -O2 -Wall -Wextra -Werror -o "$dir/board/noflush" "$here/noflush.c" ||
    die "cannot build the no-flush wrapper"
  arm-linux-gnueabihf-gcc -static -O2 -Wall -Wextra -Werror -o "$dir/board/cutat" "$here/cutat.c" ||
    die "cannot build the cutter of the undo"
  chmod 755 "$dir/init" "$dir/board/startup" "$dir/board/hook" "$dir/board/listing"
  (cd "$dir" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$out"
  echo "$stamp" >"$cache/initramfs.stamp"
}

cmd_check() {
  local reason=""
  if [ "$(id -u)" -ne 0 ]; then
    reason="not root: the board's packages are fetched and its images made as root"
  elif ! out=$(ensure_packages "${board_packages[@]}" "${arm_packages[@]}" 2>&1); then
    reason="cannot install the board's packages: $(echo "$out" | tail -1)"
  elif ! out=$(fetch 2>&1); then
    reason="cannot fetch the board's kernel and busybox: $(echo "$out" | tail -1)"
  fi
  if [ -n "$reason" ]; then
    echo "SKIP: $reason"
    exit $skip
  fi
}

# image FILE MIB FSTYPE LABEL DIR: a disk image of DIR's contents.
image() {
  local file=$1 mib=$2 fstype=$3 label=$4 dir=$5
  rm -f "$file"
  truncate -s "${mib}M" "$file"
  case $fstype in
    ext4) mkfs.ext4 -q -F -L "$label" -d "$dir" "$file" ;;
    f2fs) mkfs.f2fs -q -f -l "$label" "$file" >/dev/null && sload.f2fs -f "$dir" -t / -P "$file" >/dev/null ;;
  esac
}

cmd_make() {
  [ $# -eq 4 ] || die "usage: board.sh make BOARD LAYOUT TOOL LEGACY_DIR"
  local board=$1 layout=$2 tool=$3 legacy=$4
  case $layout in ext4 | split | f2fs) ;; *) die "layout: ext4, split or f2fs, not $layout" ;; esac
  initramfs
  mkdir -p "$board"
  [ -z "$(ls -A "$board")" ] || die "$board is not empty"
  local root=$board/root
  "$here/../sandbox.sh" create --board "$cache/busybox/bin/busybox" "$root" "$tool" "$legacy"
  # The tool and its init script where a firmware image has them (cmake
  # --install, contrib/sysvinit): the start-up runs the init script as shipped.
  install -D -m 755 "$tool" "$root/usr/sbin/sav3-migrate"
  install -D -m 755 "$top/contrib/sysvinit/sav3-migrate" "$root/etc/init.d/sav3-migrate"
  # The old programs and the DHCP client as dummy daemons, where the legacy
  # device has no file of that name.
  local daemon
  for daemon in /mnt/2/snmp/sbin/snmpd /mnt/2/snmp/sbin/vq4-demon /mnt/2/snmp/sbin/snmp-system \
    /mnt/2/tools/tcpclientremote /mnt/2/tools/spi /mnt/2/tools/lanudpclient /mnt/2/tools/lantcpclient \
    /mnt/2/tools/tcpclient_psia /sbin/dhclient; do
    [ -e "$root$daemon" ] && continue
    mkdir -p "$root$(dirname "$daemon")"
    printf '#!/bin/busybox ash\nwhile :; do /bin/busybox sleep 1; done\n' >"$root$daemon"
    chmod 755 "$root$daemon"
  done
  echo "$layout" >"$board/layout"
  case $layout in
    ext4) image "$board/disk0.img" $root_mib ext4 device "$root" ;;
    f2fs) image "$board/disk0.img" $root_mib f2fs device "$root" ;;
    split)
      mkdir -p "$board/staging"
      cp -a "$root/usr/sav3/." "$board/staging/"
      find "$root/usr/sav3" -mindepth 1 -delete
      image "$board/disk0.img" $root_mib ext4 device "$root"
      image "$board/disk1.img" $staging_mib ext4 staging "$board/staging"
      ;;
  esac
  echo 0 >"$board/boots"
}

cmd_boot() {
  local setting=1 cut="" delay=0 random="" run=tool timeout=600 show=0 undo=0 first=0
  while [ $# -gt 1 ]; do
    case $1 in
      --rollback | --list-first)
        [ "$1" = --rollback ] && undo=1 || first=1
        shift
        continue
        ;;
      --setting) setting=$2 ;;
      --cut) cut=$2 ;;
      --delay) delay=$2 ;;
      --random) random=$2 ;;
      --run) run=$2 ;;
      --timeout) timeout=$2 ;;
      --show)
        show=1
        shift
        continue
        ;;
      *) die "unknown option $1" ;;
    esac
    shift 2
  done
  local board=${1:?usage: board.sh boot [OPTION...] BOARD}
  [ -f "$board/boots" ] || die "$board was not made by 'board.sh make'"
  case $setting in 1 | 2) ;; *) die "--setting 1 or 2" ;; esac
  case $undo:$cut in
    0:pending | 0:done | 0:before:[1-9]* | 0:after:[1-9]* | 0:half:[1-9]* | ?:) ;;
    1:undo:state | 1:undo:cleared | 1:undo:restored | 1:undo:checked | 1:undo:written | 1:undo:deleted | 1:undo:end) ;;
    1:undo:trace) ;;
    *) die "bad --cut $cut (undo:PHASE with --rollback only, the others without)" ;;
  esac
  case $delay$random in *[!0-9.]*) die "--delay and --random take seconds" ;; esac
  case $run in tool | noflush | floor) ;; *) die "--run tool, noflush or floor" ;; esac
  initramfs
  local n layout
  n=$(($(cat "$board/boots") + 1))
  echo "$n" >"$board/boots"
  layout=$(cat "$board/layout")
  local console=$board/console.$n
  : >"$console"
  rm -f "$board/ctl.in" "$board/ctl.out"
  mkfifo "$board/ctl.in" "$board/ctl.out"
  local disks=() disk
  for disk in 0 1; do
    [ -f "$board/disk$disk.img" ] || continue
    disks+=(-drive "if=none,file=$board/disk$disk.img,format=raw,id=disk$disk,cache=unsafe"
      -device "virtio-blk-device,drive=disk$disk")
  done
  local append="console=ttyAMA0 panic=-1 quiet sav3.layout=$layout sav3.setting=$setting sav3.run=$run"
  [ -z "$cut" ] || append+=" sav3.cut=$cut sav3.delay=$delay"
  [ -z "$random" ] || append+=" sav3.random=$random"
  [ $undo = 0 ] || append+=" sav3.undo=1"
  [ $first = 0 ] || append+=" sav3.first=1"
  qemu-system-arm -M virt -cpu cortex-a15 -m 256 -display none -monitor none -no-reboot -nic none \
    -icount shift=0 -serial "file:$console" \
    -kernel "$cache/kernel/boot/vmlinuz-"* -initrd "$cache/initramfs.cpio" -append "$append" \
    "${disks[@]}" -device virtio-serial-device -chardev "pipe,id=ctl,path=$board/ctl" \
    -device virtserialport,chardev=ctl,name=ctl </dev/null >"$board/qemu.$n.log" 2>&1 &
  local qemu=$! start=$SECONDS outcome="" shown=0 size
  # The emulator never outlives this script (a campaign stopped half-way).
  trap 'kill -KILL '"$qemu"' 2>/dev/null || true' EXIT
  # The shell's note that the emulator was killed goes to its log: the kill
  # is the cut, not news.
  exec 3>&2 2>>"$board/qemu.$n.log"
  while kill -0 "$qemu" 2>/dev/null; do
    if grep -q '^sav3-board: cutting' "$console"; then
      kill -KILL "$qemu" 2>/dev/null || true
      outcome="cut"
    elif [ $((SECONDS - start)) -ge "$timeout" ]; then
      kill -KILL "$qemu" 2>/dev/null || true
      outcome=timeout
    fi
    if [ $show = 1 ]; then
      # Bytes, not lines: the board may be half-way through a line.
      size=$(stat -c %s "$console")
      tail -c +$((shown + 1)) "$console" | head -c $((size - shown)) | tr -d '\r' || true
      shown=$size
    fi
    sleep 0.1
  done
  wait "$qemu" || true
  exec 2>&3 3>&-
  [ $show = 0 ] || tail -c +$((shown + 1)) "$console" | tr -d '\r'
  if [ -z "$outcome" ]; then
    if grep -q '^sav3-board: power off' "$console"; then
      outcome=off
    elif grep -q '^sav3-board: cut random:.* now' "$console"; then
      outcome=reset
    else
      outcome=failed
    fi
  fi
  rm -f "$board/ctl.in" "$board/ctl.out"
  echo "$outcome"
}

cmd_listing() {
  local board=$1 n=${2:-} which=${3:+ before}
  [ -n "$n" ] || n=$(cat "$board/boots")
  tr -d '\r' <"$board/console.$n" | sed -n "/^sav3-board: listing$which begins/,/^sav3-board: listing$which ends/p" | sed '1d;$d'
}

cmd_fsck() {
  local board=${1:?usage: board.sh fsck BOARD} disk status=0 out
  for disk in "$board"/disk*.img; do
    if [ "$(cat "$board/layout")" = f2fs ]; then
      out=$(fsck.f2fs --dry-run -f "$disk" 2>&1) || status=1
      # fsck.f2fs exits 0 on some inconsistencies: its report decides.
      if grep -E "\[Fail\]|\[FIX\]" <<<"$out" >/dev/null; then status=1; fi
    else
      out=$(e2fsck -fn "$disk" 2>&1) || status=1
    fi
    [ $status = 0 ] || {
      echo "$disk:"
      echo "$out" | tail -n 20
    }
  done
  return $status
}

case ${1:-} in
  -h | --help) sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}" ;;
  check) cmd_check ;;
  fetch) fetch ;;
  make)
    shift
    cmd_make "$@"
    ;;
  boot)
    shift
    cmd_boot "$@"
    ;;
  listing)
    shift
    cmd_listing "$@"
    ;;
  fsck)
    shift
    cmd_fsck "$@"
    ;;
  *) die "usage: board.sh check | fetch | make BOARD LAYOUT TOOL LEGACY_DIR | boot [OPTION...] BOARD | listing BOARD [N [before]] | fsck BOARD" ;;
esac
