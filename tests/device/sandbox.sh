#!/usr/bin/env bash
# The device sandbox: a throw-away root file system in which the migration tool
# may delete /usr/sav*, /mnt/2/... and kill processes by name without touching
# the machine it runs on. Used by the device tests, the demo and the benchmarks.
#
#   sandbox.sh check
#       exit 0 when this machine can make a sandbox; else print the reason and
#       exit 77 (the device tests report that as a skip).
#   sandbox.sh create ROOT TOOL [LEGACY_DIR]
#       make ROOT (absent or empty): static busybox in /bin, the zone file,
#       the device folders, the legacy tree copied from LEGACY_DIR (a folder
#       laid out like the device: mnt/1/cfg/..., usr/sav/...), and TOOL. An ARM
#       tool is started through a copy of qemu-arm-static.
#   sandbox.sh run [--tmpfs DIR SIZE] [--read-only DIR] ROOT [DEVICE_PATH...]
#       start each DEVICE_PATH as a dummy daemon (a sleeping script written
#       there unless the file exists), run the tool once, and record under
#       ROOT/sandbox (--tmpfs mounts an empty file system of SIZE bytes on the
#       device folder DIR for this run only, so that writes there fail once
#       it is full; its contents are copied to ROOT/sandbox/tmpfs/DIR after
#       the run. --read-only makes the device folder DIR read-only for this
#       run; both may be repeated):
#         commands.log  the text of every command the tool gave to system(),
#                       one per line, in order
#         shell.log     what those commands printed
#         tool.out, tool.err, tool.status   the tool's own output and status
#         daemons       "PATH exited STATUS" (137: killed with signal 9) or
#                       "PATH running" (it survived and was stopped afterwards)
#       With SAV3_SANDBOX_TIME=1 the tool runs under busybox `time -v`, whose
#       report (peak resident memory of the tool and of the commands it
#       started, the largest of them) goes to ROOT/sandbox/tool.time, and the
#       tool's own peak (VmHWM, read by /bin/sh at every command) to
#       ROOT/sandbox/tool.hwm.
#
# Inside the root:
#   /bin/busybox and a link per applet; /bin/sh is a logging shim that runs
#     busybox ash, so that the exact command texts are recorded.
#   /etc/localtime is Europe/Berlin (a zone with daylight saving). The tool
#     runs with an empty environment (only PATH), so libc takes the zone from
#     /etc/localtime, as on the device.
#   /sandbox holds the tool, qemu (for ARM), the logs; the tool never touches it.
# It is entered with unshare (own mount and PID namespaces, the child killed
# with the sandbox) and chroot; /proc is mounted inside, so ps sees only the
# sandbox's processes, and the mounts vanish with the namespace.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../scripts/packages.sh
. "$here/../../scripts/packages.sh"

skip=77
zone=/usr/share/zoneinfo/Europe/Berlin
device_dirs=(/usr/sav3 /usr/sav /usr/sav2 /mnt/1/cfg /mnt/1/etc /mnt/2/tools /mnt/2/snmp/sbin /mnt/data /sbin /tmp)

die() {
  echo "sandbox: $*" >&2
  exit 1
}

busybox_path() { command -v busybox 2>/dev/null || true; }

# Whether the ELF file is a 32-bit ARM executable (e_machine 0x28).
is_arm_binary() {
  [ "$(od -An -tx1 -j18 -N2 "$1" | tr -d ' \n')" = "2800" ]
}

cmd_check() {
  local reason=""
  if [ "$(id -u)" -ne 0 ]; then
    reason="not root: unshare and chroot need root"
  elif ! command -v unshare >/dev/null 2>&1; then
    reason="no unshare on this machine"
  elif ! command -v chroot >/dev/null 2>&1; then
    reason="no chroot on this machine"
  elif ! ensure_packages busybox-static tzdata >/dev/null 2>&1 || [ -z "$(busybox_path)" ]; then
    reason="no static busybox (package busybox-static) and it cannot be installed"
  elif [ ! -f "$zone" ]; then
    reason="no zone file $zone (package tzdata)"
  fi
  if [ -z "$reason" ]; then
    # A minimal root proves that namespaces, mounts and chroot work here.
    local probe
    probe=$(mktemp -d /tmp/sav3-sandbox-probe.XXXXXX)
    mkdir -p "$probe/bin" "$probe/proc"
    cp "$(busybox_path)" "$probe/bin/busybox"
    if ! out=$(unshare --mount --pid --fork --kill-child \
      /bin/sh -c 'mount -t proc proc "$1/proc" && exec chroot "$1" /bin/busybox ps' sh "$probe" 2>&1); then
      reason="cannot enter a sandbox here (unshare/mount/chroot refused): $(echo "$out" | tail -1)"
    elif [ "$(echo "$out" | grep -c .)" -gt 3 ]; then
      reason="the PID namespace does not isolate processes here"
    fi
    rm -rf "$probe"
  fi
  if [ -n "$reason" ]; then
    echo "SKIP: $reason"
    exit $skip
  fi
}

# Refuses anything that is not a sandbox root made by `create`.
checked_root() {
  local root
  root=$(cd "$1" 2>/dev/null && pwd -P) || die "no sandbox root at $1"
  [ "$root" != / ] || die "refusing / as sandbox root"
  [ -f "$root/sandbox/root-made-by-sandbox" ] || die "$root was not made by 'sandbox.sh create'"
  echo "$root"
}

cmd_create() {
  [ $# -ge 2 ] || die "usage: sandbox.sh create ROOT TOOL [LEGACY_DIR]"
  local root=$1 tool=$2 legacy=${3:-}
  [ -f "$tool" ] || die "no tool at $tool"
  ensure_packages busybox-static tzdata >&2 || die "busybox-static and tzdata are needed"
  mkdir -p "$root"
  [ -z "$(ls -A "$root")" ] || die "$root is not empty"
  root=$(cd "$root" && pwd -P)
  [ "$root" != / ] || die "refusing / as sandbox root"

  mkdir -p "$root/bin" "$root/etc" "$root/proc" "$root/dev" "$root/sandbox"
  touch "$root/sandbox/root-made-by-sandbox" "$root/dev/null"
  cp "$(busybox_path)" "$root/bin/busybox"
  local applet
  for applet in $("$root/bin/busybox" --list); do
    [ "$applet" = busybox ] || [ "$applet" = sh ] || ln -s busybox "$root/bin/$applet"
  done
  # system() runs /bin/sh -c TEXT: record TEXT, keep the commands' own output
  # apart from the tool's, then run it with busybox ash.
  cat >"$root/bin/sh" <<'SHIM'
#!/bin/busybox ash
if [ "$1" = "-c" ]; then printf '%s\n' "$2" >>/sandbox/commands.log; fi
# When timed: the tool's own peak so far (its VmHWM), seen from each command.
if [ -s /sandbox/tool-timer ]; then /bin/busybox grep VmHWM "/proc/$PPID/status" >>/sandbox/tool.hwm 2>/dev/null; fi
exec /bin/busybox ash "$@" >>/sandbox/shell.log 2>&1
SHIM
  chmod 755 "$root/bin/sh"
  cp "$zone" "$root/etc/localtime"

  local d
  for d in "${device_dirs[@]}"; do mkdir -p "$root$d"; done
  if [ -n "$legacy" ]; then
    [ -d "$legacy" ] || die "no legacy tree at $legacy"
    cp -a "$legacy/." "$root/"
  fi

  cp "$tool" "$root/sandbox/sav3-migrate"
  chmod 755 "$root/sandbox/sav3-migrate"
  if is_arm_binary "$tool"; then
    ensure_packages qemu-user-static >&2 || die "qemu-user-static is needed for an ARM tool"
    cp "$(command -v qemu-arm-static)" "$root/sandbox/qemu-arm-static"
    echo "/sandbox/qemu-arm-static /sandbox/sav3-migrate" >"$root/sandbox/tool-command"
  else
    echo "/sandbox/sav3-migrate" >"$root/sandbox/tool-command"
  fi
}

cmd_run() {
  local mounts="" kept=""
  while [ $# -ge 1 ]; do
    case $1 in
      --tmpfs)
        [ $# -ge 3 ] || die "usage: --tmpfs DIR SIZE"
        case $2 in /*) ;; *) die "--tmpfs wants an absolute device folder: $2" ;; esac
        case $3 in *[!0-9kmKM]* | "") die "--tmpfs wants a size such as 64k: $3" ;; esac
        mounts="$mounts mount -t tmpfs -o size=$3 tmpfs \"\$1$2\" &&"
        kept="$kept mkdir -p \"\$1/sandbox/tmpfs$2\" && cp -a \"\$1$2/.\" \"\$1/sandbox/tmpfs$2/\";"
        shift 3
        ;;
      --read-only)
        [ $# -ge 2 ] || die "usage: --read-only DIR"
        case $2 in /*) ;; *) die "--read-only wants an absolute device folder: $2" ;; esac
        mounts="$mounts mount --bind \"\$1$2\" \"\$1$2\" && mount -o remount,bind,ro \"\$1$2\" &&"
        shift 2
        ;;
      *) break ;;
    esac
  done
  [ $# -ge 1 ] || die "usage: sandbox.sh run [--tmpfs DIR SIZE] [--read-only DIR] ROOT [DEVICE_PATH...]"
  local root
  root=$(checked_root "$1")
  shift
  local daemon
  : >"$root/sandbox/daemons.list"
  for daemon in "$@"; do
    case $daemon in /*) ;; *) die "daemon path must be absolute: $daemon" ;; esac
    mkdir -p "$root$(dirname "$daemon")"
    if [ ! -e "$root$daemon" ]; then
      printf '#!/bin/busybox ash\nwhile :; do /bin/busybox sleep 1; done\n' >"$root$daemon"
      chmod 755 "$root$daemon"
    fi
    echo "$daemon" >>"$root/sandbox/daemons.list"
  done
  rm -rf "$root/sandbox/commands.log" "$root/sandbox/shell.log" "$root/sandbox/daemons" "$root/sandbox/tmpfs" \
    "$root/sandbox/tool.time" "$root/sandbox/tool.hwm"
  if [ "${SAV3_SANDBOX_TIME:-0}" = 1 ]; then
    echo "/bin/busybox time -v -o /sandbox/tool.time" >"$root/sandbox/tool-timer"
  else
    : >"$root/sandbox/tool-timer"
  fi
  cat >"$root/sandbox/inside.sh" <<'INSIDE'
# Runs as PID 1 of the sandbox, inside the chroot, with busybox ash.
cd /
pids=""
while read -r daemon; do
  "$daemon" </dev/null >/dev/null 2>&1 &
  pids="$pids $!"
done </sandbox/daemons.list
# Give every daemon the time to be listed by ps under its own name.
[ -z "$pids" ] || /bin/busybox sleep 0.3

read -r tool </sandbox/tool-command
read -r timer </sandbox/tool-timer || timer=""
$timer /bin/busybox env -i PATH=/bin $tool </dev/null >/sandbox/tool.out 2>/sandbox/tool.err
echo $? >/sandbox/tool.status

# A daemon has ended when its /proc entry is gone (ash reaped it while it
# waited for the tool) or it is a zombie; `wait` then gives its status.
alive() {
  [ -d "/proc/$1" ] && [ "$(/bin/busybox sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | /bin/busybox cut -d' ' -f1)" != Z ]
}
set -- $pids
while read -r daemon; do
  pid=$1
  shift
  tries=0
  while alive "$pid" && [ $tries -lt 10 ]; do
    /bin/busybox sleep 0.1
    tries=$((tries + 1))
  done
  if alive "$pid"; then
    kill -9 "$pid"
    wait "$pid"
    echo "$daemon running" >>/sandbox/daemons
  else
    wait "$pid"
    echo "$daemon exited $?" >>/sandbox/daemons
  fi
done </sandbox/daemons.list
touch /sandbox/daemons
INSIDE
  # The tool runs only inside the chroot: if any step fails, it never starts.
  # The extra mounts live in the sandbox's mount namespace and vanish with it;
  # a tmpfs is copied out after the run, so only then does the shell outlive
  # the chroot.
  local launch=exec
  [ -z "$kept" ] || launch=""
  timeout --kill-after=10 600 unshare --mount --pid --fork --kill-child /bin/sh -c "
    set -e
    mount --bind /dev/null \"\$1/dev/null\"
    mount -t proc proc \"\$1/proc\"
    $mounts :
    $launch chroot \"\$1\" /bin/busybox ash /sandbox/inside.sh >\"\$1/sandbox/inside.log\" 2>&1
    $kept :" sh "$root" ||
    die "the sandbox run failed"
  [ -f "$root/sandbox/tool.status" ] || die "the tool did not run"
}

case ${1:-} in
  check) cmd_check ;;
  create)
    shift
    cmd_create "$@"
    ;;
  run)
    shift
    cmd_run "$@"
    ;;
  *) die "usage: sandbox.sh check | create ROOT TOOL [LEGACY_DIR] | run [--tmpfs DIR SIZE] [--read-only DIR] ROOT [DEVICE_PATH...]" ;;
esac
