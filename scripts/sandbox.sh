#!/usr/bin/env bash
# The device sandbox: a throw-away root file system in which the migration tool
# may delete /usr/sav*, /mnt/2/... and kill processes by name without touching
# the machine it runs on. Used by the device tests, the demo and the benchmarks.
#
#   sandbox.sh check
#       exit 0 when this machine can make a sandbox; else print the reason and
#       exit 77 (the device tests report that as a skip).
#   sandbox.sh create [--board BUSYBOX] ROOT TOOL [LEGACY_DIR]
#       make ROOT (absent or empty): static busybox in /bin, the zone file,
#       the device folders, the legacy tree copied from LEGACY_DIR (a folder
#       laid out like the device: mnt/1/cfg/..., usr/sav/...), and TOOL. An ARM
#       tool is started through a copy of qemu-arm-static. With --board, the
#       root is the virtual board's device root (scripts/board): BUSYBOX, an
#       ARM busybox, in /bin and the ARM tool started as it is.
#   sandbox.sh run [OPTION...] ROOT [DEVICE_PATH...]
#       start a system log daemon and each DEVICE_PATH as a dummy daemon (a
#       sleeping script written there unless the file exists), run the tool
#       once, and record under ROOT/sandbox:
#         commands.log  the text of every command the tool gave to system(),
#                       one per line, in order
#         shell.log     what those commands printed
#         tool.out, tool.err, tool.status   the tool's own output and status
#         tool.log      the tool's system log lines, "FACILITY.LEVEL TEXT"
#                       (syslog: every line of the log daemon, as written)
#         daemons       "PATH exited STATUS" (137: killed with signal 9) or
#                       "PATH running" (it survived and was stopped afterwards)
#       Options (each may be repeated):
#         --tmpfs DIR SIZE   mount a file system of SIZE bytes on the device
#             folder DIR for this run only, holding a copy of what DIR holds,
#             so that writes there fail once it is full; its contents are
#             copied to ROOT/sandbox/tmpfs/DIR after the run (not after a
#             power cut: they are lost, as on the device). DIR itself keeps
#             what it held before the run.
#             SIZE may end in ":INODES" ("1m:40"): the file system then
#             holds that many inodes, its root folder's included.
#         --bind SRC DIR     bind-mount the device folder SRC on the device
#             folder DIR for this run only (the same file system seen twice)
#         --read-only DIR    make the device folder DIR read-only for this run
#         --umask MASK       run the tool with this umask (octal, "077")
#         --arg ARG          give ARG to the tool (in order)
#         --env NAME=VALUE   run the tool with this variable as well (VALUE
#             without blanks); the tool's environment is PATH alone otherwise
#         --exec DEVICE_PATH  run this shell script of the device (an update
#             framework's hook) with busybox ash instead of the tool, with the
#             --arg arguments; it finds the tool on its PATH as sav3-migrate
#             (PATH /sandbox/bin:/usr/sbin:/usr/bin:/sbin:/bin). tool.out,
#             tool.err and tool.status are then the script's.
#         --cut before:N | after:N | half:N
#             cut the power at the tool's Nth command of this run: before it
#             runs, after it ran, or half-way through it (one of the commands
#             that empty and refill the live trees: half of its entries
#             removed or copied, the next file copied half, then the cut). The
#             sandbox's whole PID namespace is killed at once from outside, so
#             nothing inside outlives the cut; ROOT/sandbox/cut then holds
#             the point. Without the Nth command nothing is cut.
#         --strace "OPTIONS" run the tool under strace OPTIONS (a copy of this
#             machine's strace in the sandbox; output in ROOT/sandbox/
#             strace.log). `-e inject=SYSCALL:signal=KILL:when=N` cuts the
#             power inside the tool: it dies at that call (status 137). An
#             ARM tool is traced through qemu (the host's system calls).
#       With SAV3_SANDBOX_TIME=1 the tool runs under busybox `time -v`, whose
#       report (peak resident memory of the tool and of the commands it
#       started, the largest of them) goes to ROOT/sandbox/tool.time, and the
#       tool's own peak (VmHWM, read by /bin/sh at every command) to
#       ROOT/sandbox/tool.hwm.
#       SAV3_SANDBOX_TIMEOUT=SECONDS (600 by default) ends a run that takes
#       longer (a tool blocked on a FIFO): the whole sandbox is killed and the
#       run fails.
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
. "$here/packages.sh"

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

# The emulated core for an ARM executable: an ARMv5TE core without an FPU
# (arm926) for a soft-float one (EF_ARM_ABI_FLOAT_SOFT in e_flags), so that
# an instruction the older controllers lack stops the run; qemu's default
# (the newest core) otherwise.
qemu_cpu_option() {
  [ "$(od -An -tx1 -j37 -N1 "$1" | tr -d ' \n')" = "02" ] && echo " -cpu arm926"
  return 0
}

# busybox-static and tzdata, installed only when missing: asking the package
# database while another job installs packages can fail for a moment.
ensure_busybox_and_zone() {
  [ -n "$(busybox_path)" ] && [ -f "$zone" ] && return 0
  ensure_packages "${sandbox_packages[@]}"
}

# The processes a fresh PID namespace shows; only its PID 1 (busybox ps
# itself) may be there. Prints the reason when it cannot be made.
probe_namespace() {
  local probe out status=0
  probe=$(mktemp -d /tmp/sav3-sandbox-probe.XXXXXX)
  mkdir -p "$probe/bin" "$probe/proc"
  cp "$(busybox_path)" "$probe/bin/busybox"
  if ! out=$(unshare --mount --pid --fork --kill-child \
    /bin/sh -c 'mount -t proc proc "$1/proc" && exec chroot "$1" /bin/busybox ps -o pid' sh "$probe" 2>&1); then
    echo "cannot enter a sandbox here (unshare/mount/chroot refused): $(echo "$out" | tail -1)"
    status=1
  elif [ "$(echo "$out" | awk 'NR > 1 && $1 != 1' | grep -c .)" != 0 ]; then
    echo "the PID namespace does not isolate processes here: $(echo "$out" | tr '\n' ' ')"
    status=1
  fi
  rm -rf "$probe"
  return $status
}

cmd_check() {
  local reason="" out attempt
  if [ "$(id -u)" -ne 0 ]; then
    reason="not root: unshare and chroot need root"
  elif ! command -v unshare >/dev/null 2>&1; then
    reason="no unshare on this machine"
  elif ! command -v chroot >/dev/null 2>&1; then
    reason="no chroot on this machine"
  elif ! out=$(ensure_busybox_and_zone 2>&1) || [ -z "$(busybox_path)" ]; then
    reason="no static busybox (package busybox-static) and it cannot be installed: $(echo "$out" | tail -1)"
  elif [ ! -f "$zone" ]; then
    reason="no zone file $zone (package tzdata)"
  else
    # A minimal root proves that namespaces, mounts and chroot work here; a
    # machine busy with other jobs gets three tries.
    for attempt in 1 2 3; do
      reason=$(probe_namespace) && break
      sleep "$attempt"
    done
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
  local board=""
  if [ "${1:-}" = --board ]; then
    board=${2:?usage: --board BUSYBOX}
    shift 2
  fi
  [ $# -ge 2 ] || die "usage: sandbox.sh create [--board BUSYBOX] ROOT TOOL [LEGACY_DIR]"
  local root=$1 tool=$2 legacy=${3:-}
  [ -f "$tool" ] || die "no tool at $tool"
  ensure_busybox_and_zone >&2 || die "busybox-static and tzdata are needed"
  local busybox lister=""
  busybox=${board:-$(busybox_path)}
  if [ -n "$board" ]; then
    ensure_packages qemu-user-static >&2 || die "qemu-user-static is needed to list the ARM busybox's applets"
    lister=$(command -v qemu-arm-static)
  fi
  mkdir -p "$root"
  [ -z "$(ls -A "$root")" ] || die "$root is not empty"
  root=$(cd "$root" && pwd -P)
  [ "$root" != / ] || die "refusing / as sandbox root"

  mkdir -p "$root/bin" "$root/etc" "$root/proc" "$root/dev" "$root/sandbox"
  touch "$root/sandbox/root-made-by-sandbox" "$root/dev/null"
  cp "$busybox" "$root/bin/busybox"
  local applet
  for applet in $($lister "$root/bin/busybox" --list); do
    [ "$applet" = busybox ] || [ "$applet" = sh ] || ln -s busybox "$root/bin/$applet"
  done
  # The logging shell: records every command text; at the cut point of
  # `run --cut` it raises the flag that the watcher outside waits for, and
  # blocks until the whole sandbox is killed.
  cp "$here/logging-shell" "$root/bin/sh"
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
  if is_arm_binary "$tool" && [ -z "$board" ]; then
    ensure_packages qemu-user-static >&2 || die "qemu-user-static is needed for an ARM tool"
    cp "$(command -v qemu-arm-static)" "$root/sandbox/qemu-arm-static"
    echo "/sandbox/qemu-arm-static$(qemu_cpu_option "$tool") /sandbox/sav3-migrate" >"$root/sandbox/tool-command"
  else
    echo "/sandbox/sav3-migrate" >"$root/sandbox/tool-command"
  fi
}

# A copy of this machine's strace and its libraries under ROOT/sandbox/strace,
# started through their own loader (the root has no libraries of its own).
install_strace() {
  local root=$1 dir=$1/sandbox/strace lib loader=""
  [ -x "$dir/strace" ] && return 0
  ensure_packages strace >&2 || die "strace is needed for --strace"
  mkdir -p "$dir"
  cp "$(command -v strace)" "$dir/strace"
  for lib in $(ldd "$(command -v strace)" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
    cp -L "$lib" "$dir/"
    case ${lib##*/} in ld-linux*) loader=/sandbox/strace/${lib##*/} ;; esac
  done
  [ -n "$loader" ] || die "no loader found for strace"
  echo "$loader --library-path /sandbox/strace /sandbox/strace/strace" >"$dir/command"
}

# The PID of a process's one child (or nothing); where the kernel does not
# list children, from every process's parent in /proc/PID/stat.
child_of() {
  local kids="" stat line fields
  read -r kids _ <"/proc/$1/task/$1/children" 2>/dev/null || true
  if [ -z "$kids" ]; then
    for stat in /proc/[0-9]*/stat; do
      read -r line <"$stat" 2>/dev/null || continue
      read -ra fields <<<"${line##*) }"
      [ "${fields[1]}" != "$1" ] || {
        kids=${stat#/proc/}
        kids=${kids%/stat}
        break
      }
    done
  fi
  echo "$kids"
}

cmd_run() {
  local mounts="" kept="" cut="" trace="" mask="" program="" args=() envs=()
  while [ $# -ge 1 ]; do
    case $1 in
      --tmpfs)
        [ $# -ge 3 ] || die "usage: --tmpfs DIR SIZE"
        case $2 in /*) ;; *) die "--tmpfs wants an absolute device folder: $2" ;; esac
        local size=${3%%:*} inodes=""
        case $size in *[!0-9kmKM]* | "") die "--tmpfs wants a size such as 64k: $3" ;; esac
        case $3 in
          *:*[!0-9]* | *:) die "--tmpfs wants a count of inodes after the size: $3" ;;
          *:*) inodes=,nr_inodes=${3#*:} ;;
        esac
        mounts="$mounts rm -rf \"\$1/sandbox/held\" && mkdir -p \"\$1/sandbox/held\" &&
          cp -a \"\$1$2/.\" \"\$1/sandbox/held/\" && mount -t tmpfs -o size=$size$inodes,mode=755 tmpfs \"\$1$2\" &&
          cp -a \"\$1/sandbox/held/.\" \"\$1$2/\" && rm -rf \"\$1/sandbox/held\" &&"
        kept="$kept mkdir -p \"\$1/sandbox/tmpfs$2\" && cp -a \"\$1$2/.\" \"\$1/sandbox/tmpfs$2/\";"
        shift 3
        ;;
      --bind)
        [ $# -ge 3 ] || die "usage: --bind SRC DIR"
        case $2 in /*) ;; *) die "--bind wants an absolute device folder: $2" ;; esac
        case $3 in /*) ;; *) die "--bind wants an absolute device folder: $3" ;; esac
        mounts="$mounts mount --bind \"\$1$2\" \"\$1$3\" &&"
        shift 3
        ;;
      --umask)
        [ $# -ge 2 ] || die "usage: --umask MASK"
        [[ $2 =~ ^[0-7]{3,4}$ ]] || die "--umask wants an octal mask such as 077: $2"
        mask=$2
        shift 2
        ;;
      --read-only)
        [ $# -ge 2 ] || die "usage: --read-only DIR"
        case $2 in /*) ;; *) die "--read-only wants an absolute device folder: $2" ;; esac
        mounts="$mounts mount --bind \"\$1$2\" \"\$1$2\" && mount -o remount,bind,ro \"\$1$2\" &&"
        shift 2
        ;;
      --arg)
        [ $# -ge 2 ] || die "usage: --arg ARG"
        case $2 in *$'\n'*) die "--arg: one line only" ;; esac
        args+=("$2")
        shift 2
        ;;
      --env)
        [ $# -ge 2 ] || die "usage: --env NAME=VALUE"
        [[ $2 =~ ^[A-Za-z_][A-Za-z0-9_]*=[^[:space:]]*$ ]] || die "--env wants NAME=VALUE without blanks: $2"
        envs+=("$2")
        shift 2
        ;;
      --exec)
        [ $# -ge 2 ] || die "usage: --exec DEVICE_PATH"
        case $2 in /*) ;; *) die "--exec wants an absolute device path: $2" ;; esac
        program=$2
        shift 2
        ;;
      --cut)
        [ $# -ge 2 ] || die "usage: --cut before:N | after:N | half:N"
        case $2 in before:[1-9]* | after:[1-9]* | half:[1-9]*) ;; *) die "--cut wants before:N, after:N or half:N: $2" ;; esac
        case ${2#*:} in *[!0-9]*) die "--cut wants a command number: $2" ;; esac
        cut=$2
        shift 2
        ;;
      --strace)
        [ $# -ge 2 ] || die "usage: --strace OPTIONS"
        trace=$2
        shift 2
        ;;
      *) break ;;
    esac
  done
  [ $# -ge 1 ] || die "usage: sandbox.sh run [OPTION...] ROOT [DEVICE_PATH...]"
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
    "$root/sandbox/tool.time" "$root/sandbox/tool.hwm" "$root/sandbox/tool.status" "$root/sandbox/tool.out" \
    "$root/sandbox/tool.err" "$root/sandbox/syslog" "$root/sandbox/tool.log" "$root/sandbox/cut" \
    "$root/sandbox/cut-now" "$root/sandbox/cut-now.new" "$root/sandbox/strace.log"
  if [ "${SAV3_SANDBOX_TIME:-0}" = 1 ]; then
    echo "/bin/busybox time -v -o /sandbox/tool.time" >"$root/sandbox/tool-timer"
  else
    : >"$root/sandbox/tool-timer"
  fi
  printf '%s\n' "$cut" | grep . >"$root/sandbox/cut-at" || true
  if [ -n "$trace" ]; then
    install_strace "$root"
    echo "$(cat "$root/sandbox/strace/command") -o /sandbox/strace.log $trace" >"$root/sandbox/tool-tracer"
  else
    : >"$root/sandbox/tool-tracer"
  fi
  if [ ${#args[@]} -gt 0 ]; then printf '%s\n' "${args[@]}" >"$root/sandbox/tool-args"; else : >"$root/sandbox/tool-args"; fi
  printf '%s\n' "$mask" >"$root/sandbox/tool-umask"
  printf '%s\n' "$program" >"$root/sandbox/tool-exec"
  if [ ${#envs[@]} -gt 0 ]; then printf '%s\n' "${envs[@]}" >"$root/sandbox/tool-env"; else : >"$root/sandbox/tool-env"; fi
  cat >"$root/sandbox/inside.sh" <<'INSIDE'
# Runs as PID 1 of the sandbox, inside the chroot, with busybox ash.
cd /
# The system log: the tool's syslog() writes to /dev/log.
/bin/busybox rm -f /dev/log
/bin/busybox syslogd -n -O /sandbox/syslog &
syslogd=$!
tries=0
while [ ! -S /dev/log ] && [ $tries -lt 100 ]; do
  /bin/busybox sleep 0.05
  tries=$((tries + 1))
done
pids=""
while read -r daemon; do
  "$daemon" </dev/null >/dev/null 2>&1 &
  pids="$pids $!"
done </sandbox/daemons.list
# Give every daemon the time to be listed by ps under its own name.
[ -z "$pids" ] || /bin/busybox sleep 0.3

read -r tool </sandbox/tool-command
read -r timer </sandbox/tool-timer || timer=""
read -r tracer </sandbox/tool-tracer || tracer=""
set --
while IFS= read -r arg; do set -- "$@" "$arg"; done </sandbox/tool-args
variables=""
while read -r variable; do variables="$variables $variable"; done </sandbox/tool-env
read -r mask </sandbox/tool-umask || mask=""
[ -z "$mask" ] || umask "$mask"
path=/bin
read -r program </sandbox/tool-exec || program=""
if [ -n "$program" ]; then
  # A device script in the tool's place; the tool is on its PATH.
  /bin/busybox mkdir -p /sandbox/bin
  printf '#!/bin/busybox ash\nexec %s "$@"\n' "$tool" >/sandbox/bin/sav3-migrate
  /bin/busybox chmod 755 /sandbox/bin/sav3-migrate
  tool="/bin/busybox ash $program" path=/sandbox/bin:/usr/sbin:/usr/bin:/sbin:/bin
fi
/bin/busybox env -i PATH=$path $variables $timer $tracer $tool "$@" </dev/null >/sandbox/tool.out 2>/sandbox/tool.err
echo $? >/sandbox/tool.status

# Every line the tool logged has reached the file once a later line has.
/bin/busybox logger -t sandbox "end of run"
tries=0
while ! /bin/busybox grep -q 'sandbox: end of run' /sandbox/syslog 2>/dev/null && [ $tries -lt 100 ]; do
  /bin/busybox sleep 0.05
  tries=$((tries + 1))
done
kill "$syslogd"

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
  local launch=exec status=0
  [ -z "$kept" ] || launch=""
  timeout --kill-after=10 "${SAV3_SANDBOX_TIMEOUT:-600}" unshare --mount --pid --fork --kill-child /bin/sh -c "
    set -e
    mount --bind /dev/null \"\$1/dev/null\"
    mount -t proc proc \"\$1/proc\"
    $mounts :
    $launch chroot \"\$1\" /bin/busybox ash /sandbox/inside.sh >\"\$1/sandbox/inside.log\" 2>&1
    $kept :" sh "$root" 2>"$root/sandbox/unshare.err" &
  local timer=$! init=""
  if [ -n "$cut" ]; then
    # The watcher: when the shim raises the flag, kill the namespace's PID 1
    # from outside; the kernel then kills every process in the sandbox.
    while kill -0 "$timer" 2>/dev/null; do
      if [ -e "$root/sandbox/cut-now" ]; then
        [ -n "$init" ] || init=$(child_of "$(child_of "$timer")")
        [ -z "$init" ] || kill -KILL "$init" 2>/dev/null || true
      fi
      sleep 0.05
    done
  fi
  wait "$timer" || status=$?
  # The tool's own lines, without the time, host and process id.
  sed -n 's/^.\{15\} [^ ]* \([^ ]*\) sav3-migrate\[[0-9]*\]: /\1 /p' "$root/sandbox/syslog" >"$root/sandbox/tool.log" \
    2>/dev/null || true
  if [ -e "$root/sandbox/cut-now" ]; then
    [ -n "$init" ] || die "the cut point was reached, but the sandbox was not killed"
    cp "$root/sandbox/cut-now" "$root/sandbox/cut"
    return 0
  fi
  cat "$root/sandbox/unshare.err" >&2
  [ "$status" = 0 ] || die "the sandbox run failed"
  [ -f "$root/sandbox/tool.status" ] || die "the tool did not run"
}

case ${1:-} in
  -h | --help) sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}" ;;
  check) cmd_check ;;
  create)
    shift
    cmd_create "$@"
    ;;
  run)
    shift
    cmd_run "$@"
    ;;
  *) die "usage: sandbox.sh check | create ROOT TOOL [LEGACY_DIR] | run [OPTION...] ROOT [DEVICE_PATH...]" ;;
esac
