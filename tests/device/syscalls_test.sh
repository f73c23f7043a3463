#!/usr/bin/env bash
# The system calls of the tool against the table of the oldest kernels
# (syscalls.txt): a full run, a resume after a power cut before the first
# replacement command, and `--check` on the resumed device, traced in the
# device sandbox (strace for a tool of this machine's processor, qemu's own
# trace for an ARM tool). Every call must be listed. For a tool of this
# machine's processor the three runs are made again with every listed call
# newer than Linux 2.6.32 answering ENOSYS: statuses, commands, log lines
# and trees must come out the same.
#
#   syscalls_test.sh TOOL [LIST]   LIST: write the calls seen, one a line
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/device/testlib.sh
. "$here/testlib.sh"
tool=${1:?usage: syscalls_test.sh TOOL [LIST]}
list=${2:-}
table=$here/syscalls.txt
begin_device_test "$tool"
daemons=(/mnt/2/snmp/sbin/snmpd /mnt/2/tools/spi /sbin/dhclient /mnt/2/tools/keepme)
resume_cut=before:$(command_number r1)
arm=no
[ "$(od -An -tx1 -j18 -N2 "$tool" | tr -d ' \n')" != 2800 ] || arm=yes

# calls BOX: the names of the calls the tool made in the last run of BOX.
calls() {
  local box=$1/sandbox
  if [ $arm = yes ]; then
    # qemu traces the ARM code only: the tool, and its children until they
    # start the (native) shell.
    sed -nE 's/^[0-9]+ ([a-z0-9_]+)\(.*/\1/p' "$box/tool.err"
    return
  fi
  local main kid
  main=$(grep -l '^execve("/sandbox/sav3-migrate"' "$box"/strace.log.* | head -n 1)
  sed -nE 's/^([a-z0-9_]+)\(.*/\1/p' "$main"
  for kid in $(sed -nE 's/^(clone|clone3|fork|vfork)\(.*= ([0-9]+)$/\2/p' "$main"); do
    awk '{ print } /^execve\(/ { exit }' "$box/strace.log.$kid" | sed -nE 's/^([a-z0-9_]+)\(.*/\1/p'
  done
}

# run BOX INJECT [OPTION...]: one traced run; INJECT: the calls that answer
# ENOSYS ("" none).
run() {
  local box=$1 inject=$2
  shift 2
  rm -f "$box"/sandbox/strace.log.*
  if [ $arm = yes ]; then
    "$sandbox" run --env QEMU_STRACE=1 "$@" "$box" "${daemons[@]}"
  elif [ -n "$inject" ]; then
    "$sandbox" run --strace "-ff -qq -e inject=$inject:error=ENOSYS" "$@" "$box" "${daemons[@]}"
  else
    "$sandbox" run --strace "-ff -qq" "$@" "$box" "${daemons[@]}"
  fi
}

# outcome BOX: what a run must keep whatever the kernel lacks.
outcome() {
  local box=$1/sandbox
  echo "status $(cat "$box/tool.status")"
  local file
  for file in commands.log daemons tool.log tool.out tool.err; do
    [ $arm = no ] || [ $file != tool.err ] || continue # qemu's trace
    echo "== $file"
    cat "$box/$file" 2>/dev/null || true
  done
  snapshot "$1" usr mnt sbin
}

# phases NAME INJECT: the three runs on fresh devices; their outcomes in
# $scratch/NAME.outcome, their calls in $scratch/NAME.calls.
phases() {
  local name=$1 inject=$2
  make_device "$name-full" "$tool"
  run "$scratch/$name-full" "$inject"
  calls "$scratch/$name-full" >"$scratch/$name.calls"
  outcome "$scratch/$name-full" >"$scratch/$name.outcome"
  make_device "$name-resume" "$tool"
  "$sandbox" run --cut "$resume_cut" "$scratch/$name-resume" "${daemons[@]}"
  run "$scratch/$name-resume" "$inject"
  calls "$scratch/$name-resume" >>"$scratch/$name.calls"
  outcome "$scratch/$name-resume" >>"$scratch/$name.outcome"
  run "$scratch/$name-resume" "$inject" --arg --check
  calls "$scratch/$name-resume" >>"$scratch/$name.calls"
  outcome "$scratch/$name-resume" >>"$scratch/$name.outcome"
}

phases plain ""
[ "$(state_of "$scratch/plain-full")" = "done" ] || fail "the full run ended in '$(state_of "$scratch/plain-full")', not done"
[ "$(state_of "$scratch/plain-resume")" = "done" ] || fail "the resume ended in '$(state_of "$scratch/plain-resume")', not done"
sort -u "$scratch/plain.calls" >"$scratch/seen"
[ -s "$scratch/seen" ] || fail "no system call traced"
[ -z "$list" ] || cp "$scratch/seen" "$list"
# check_listed CALLS: every call of the file is in the table.
check_listed() {
  local unlisted
  unlisted=$(sort -u "$1" | awk 'NR == FNR { if ($1 !~ /^#/ && NF) known[$1] = 1; next } !($1 in known)' "$table" - |
    tr '\n' ' ')
  [ -z "$unlisted" ] || fail "calls not in syscalls.txt (add each with its oldest kernel): $unlisted"
}
check_listed "$scratch/seen"

# The calls newer than 2.6.32 that this build makes answer ENOSYS.
newer=$(awk 'NR == FNR { seen[$1] = 1; next }
  $1 !~ /^#/ && NF && ($1 in seen) {
    split($2, v, "."); if (v[1] * 10000 + v[2] * 100 + v[3] > 20632) print $1 }' "$scratch/seen" "$table" | paste -sd, -)
if [ $arm = yes ]; then
  echo "not injected (qemu's trace cannot): ${newer:-none}"
elif [ -n "$newer" ]; then
  echo "answering ENOSYS: $newer"
  phases old "$newer"
  # The calls the C library falls back on are listed too.
  check_listed "$scratch/old.calls"
  if ! diff "$scratch/plain.outcome" "$scratch/old.outcome" >"$scratch/old.diff"; then
    fail "the runs differ where $newer answer ENOSYS (< as is, > without):"
    head -n 20 "$scratch/old.diff"
  fi
fi
end_device_test "system calls"
