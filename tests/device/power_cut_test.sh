#!/usr/bin/env bash
# Power cuts during a migration of the small sample device, in the device
# sandbox. Each cut kills every process of the sandbox at once (the tool, its
# commands, the log daemon); then the tool runs again in the same root, as at
# the next boot, and must finish the migration: /usr/sav, /usr/sav2 and
# /usr/sav3 end byte for byte as after a run that was never cut (the state
# file by its first line, "done").
#
#   power_cut_test.sh GROUP TOOL
#     commands-first-half, commands-second-half   before and after each of
#                   the commands of a full run, in two halves
#     replacement   half-way through each of the commands that replace
#                   the live trees, a second cut during the resume, and
#                   inside the tool's own removal of names under /usr/sav2
#                   that the shell would split
#     conversions   inside the tool (strace kills it at a system call): while
#                   it writes the converted files and at each rename that
#                   installs a state (host tool only)
#     order         the order of the durable steps, from strace: the
#                   before-image on the medium before the first command, the
#                   staging tree and the state "pending" before the first
#                   replacement command, the live trees before "done"
#     rollback      sav3-migrate --rollback after a migration of the sample
#                   device with the kinds of entry it lacks (testlib.sh's
#                   undo_extras), cut inside the tool at the calls that
#                   change the device, then --rollback again or a boot: every
#                   entry back as before the migration (host tool only)
#     target        a subset of the cuts above for a target (ARM) tool
#
# Besides the final bytes, every cut must leave either the live trees as they
# were or the state "pending" (the next run then resumes: the four replacement
# commands only).
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/device/testlib.sh
. "$here/testlib.sh"
group=${1:?usage: power_cut_test.sh GROUP TOOL}
tool=${2:?usage: power_cut_test.sh GROUP TOOL}
begin_device_test "$tool"

# The three trees, the state file by its first line only (its attempt count
# differs after a resume).
trees() {
  snapshot "$1" usr/sav usr/sav2 usr/sav3 | grep -v ' usr/sav3/\.migration *$' || true
  echo "state: $(state_of "$1")"
}

# prepare DEVICE: the uncut run of the sandbox $scratch/DEVICE (which stays
# as it is, never run): its live trees before ($scratch/DEVICE.original) and
# after (DEVICE.live), its commands (DEVICE.commands) and all three trees
# (DEVICE.trees). It must end with the state "done".
prepare() {
  local root=$scratch/$1.reference
  live_snapshot "$scratch/$1" >"$scratch/$1.original"
  cp -a "$scratch/$1" "$root"
  "$sandbox" run "$root"
  check_quiet_exit "$root"
  [ "$(state_of "$root")" = "done" ] || fail "$1, uncut run: state '$(state_of "$root")', not done"
  cp "$root/sandbox/commands.log" "$scratch/$1.commands"
  trees "$root" >"$scratch/$1.trees"
  live_snapshot "$root" >"$scratch/$1.live"
}

# The sample device, whose uncut run issues all the commands in order.
make_device sample "$tool"
prepare sample
check_commands "$scratch/sample.reference" "$command_count"
device=sample

# cut_power ROOT POINT [RUN OPTION...]: one run of the tool cut at POINT,
# which is a point of `sandbox.sh run --cut` (before:N, after:N, half:N; N as
# command_number takes it: "half:r2") or SYSCALL@N: the Nth such call of the
# tool kills it (strace). Fails unless the run was cut there. A resume
# numbers its replacement commands from 1.
cut_power() {
  local root=$1 point=$2
  shift 2
  case $point in
    *@*)
      "$sandbox" run "$@" --strace "-e trace=${point%@*} -e inject=${point%@*}:signal=KILL:when=${point#*@}" "$root"
      [ "$(cat "$root/sandbox/tool.status")" = 137 ] || fail "$point: the tool was not killed there"
      ;;
    *)
      point=$(cut_point "$point")
      "$sandbox" run --cut "$point" "$root"
      [ "$(cat "$root/sandbox/cut" 2>/dev/null)" = "$point" ] || fail "$point: the power was not cut there"
      ;;
  esac
}

# cut_and_finish CUTS: the device $device migrated with a cut at each point
# of CUTS ("+" between them: the second cuts the run after the first), then
# a run to the end. Every cut must leave the live trees as they were, or the
# state "pending" (the run after it issues the four replacement commands
# only), or "done" (the run after it issues none).
cut_and_finish() {
  local cuts=$1 root=$scratch/point point state
  rm -rf "$root"
  cp -a "$scratch/$device" "$root"
  for point in ${cuts//+/ }; do
    cut_power "$root" "$point"
    state=$(state_of "$root")
    live_snapshot "$root" >"$scratch/live"
    case $point in
      half:*)
        # Half-way: the live trees are neither what they were nor the result.
        ! cmp -s "$scratch/$device.original" "$scratch/live" && ! cmp -s "$scratch/$device.live" "$scratch/live" ||
          fail "$cuts: the cut at $point was not half-way through the live trees"
        ;;
    esac
    case $state in
      pending | done) ;;
      *)
        cmp -s "$scratch/$device.original" "$scratch/live" ||
          fail "$cuts: cut at $point with the live trees changed and the state '$state'"
        [ "$(cat "$root/sandbox/commands.log" 2>/dev/null | grep -c . || true)" -le "$opening_count" ] ||
          fail "$cuts: a replacement command ran before the state 'pending' was written (state '$state')"
        ;;
    esac
  done
  "$sandbox" run "$root"
  check_quiet_exit "$root"
  # After "pending" the replacement commands of the uncut run (or all four:
  # names under /usr/sav2 that the shell would split may be gone already),
  # after "done" none, else all the commands of the uncut run.
  case $state in
    pending)
      tail -n +$((opening_count + 1)) "$scratch/$device.commands" >"$scratch/expected"
      cmp -s "$scratch/expected" "$root/sandbox/commands.log" ||
        tail -n +$((opening_count + 1)) "$commands_file" >"$scratch/expected"
      ;;
    done) : >"$scratch/expected" ;;
    *) cp "$scratch/$device.commands" "$scratch/expected" ;;
  esac
  diff "$scratch/expected" <(cat "$root/sandbox/commands.log" 2>/dev/null || true) >"$scratch/commands.diff" || {
    fail "$cuts: the run after the cut issued other commands (< expected, > issued):"
    cat "$scratch/commands.diff"
  }
  trees "$root" >"$scratch/point.trees"
  if diff "$scratch/$device.trees" "$scratch/point.trees" >"$scratch/point.diff"; then
    echo "$cuts: as uncut (cut with state '$state')"
  else
    fail "$cuts: the trees differ from an uncut run:"
    head -n 20 "$scratch/point.diff"
    cp -a "$root" "$scratch/failed-${cuts//[:+@]/-}"
  fi
}

# before:N and after:N for N from FIRST to LAST.
around_commands() {
  local n
  for ((n = $1; n <= $2; n++)); do
    cut_and_finish "before:$n"
    cut_and_finish "after:$n"
  done
}

# strace_lines ROOT SYSCALL: the tool's calls of SYSCALL in a traced run,
# numbered from 1 as strace's when= counts them.
strace_lines() { grep -E "^$2\(" "$1/sandbox/strace.log" | grep -n . || true; }

# A traced uncut run: where the tool creates its files and installs states.
traced_run() {
  cp -a "$scratch/$device" "$scratch/traced"
  "$sandbox" run --strace "-e trace=openat,write,fsync,rename,renameat,renameat2" "$scratch/traced"
  [ "$(state_of "$scratch/traced")" = "done" ] || fail "traced uncut run: state '$(state_of "$scratch/traced")', not done"
}

# Kill points inside the tool: the creation of the first, a middle and the
# last converted file; a write half-way through the writes; a flush half-way
# and the last one; each rename (the states "pending" and "done").
conversion_points() {
  traced_run
  local created n writes name
  created=$(strace_lines "$scratch/traced" openat | grep 'O_CREAT' | grep -v '\.migration' | cut -d: -f1)
  n=$(echo "$created" | grep -c .)
  [ "$n" -ge 3 ] || fail "the traced run created only $n files"
  echo "$created" | sed -n "1p;$(((n + 1) / 2))p;${n}p" | sed 's/^/openat@/'
  writes=$(strace_lines "$scratch/traced" write | grep -c .)
  echo "write@$((writes / 2))"
  local flushes
  flushes=$(strace_lines "$scratch/traced" fsync | grep -c .)
  [ "$flushes" -lt 2 ] || echo "fsync@$((flushes / 2)) fsync@$flushes"
  for name in rename renameat renameat2; do
    strace_lines "$scratch/traced" $name | cut -d: -f1 | sed "s/^/$name@/"
  done
}

# The call of the tool's own removal under /usr/sav2 half-way through it:
# the unlinkat calls between the renames that install "pending" and "done"
# (the first rename installs "kept interrupted").
own_removal_point() {
  cp -a "$scratch/$device" "$scratch/traced-removal"
  "$sandbox" run --strace "-e trace=unlinkat,rename" "$scratch/traced-removal"
  grep -E '^(unlinkat|rename)\(' "$scratch/traced-removal/sandbox/strace.log" |
    awk '/^rename/ { renames++; next } { n++; if (renames == 2) inside[++k] = n }
      END { if (k > 1) print "unlinkat@" inside[int((k + 1) / 2)] }'
}

# The durable steps, from a run traced with its commands (strace -f -y). Each
# flush covers a tree when it is a sync() or syncfs(), or an fsync/fdatasync
# of every file and folder of that tree.
check_order() {
  local root=$scratch/order log
  cp -a "$scratch/$device" "$root"
  "$sandbox" run --strace "-f -y -s 64 -e trace=fsync,fdatasync,syncfs,sync,rename,renameat,renameat2,execve,write" "$root"
  [ "$(state_of "$root")" = "done" ] || fail "order: state '$(state_of "$root")', not done"
  log=$scratch/order.log
  # Without the pid prefixes and with each line's number.
  sed 's/^\[pid *[0-9]*\] *//; s/^[0-9][0-9]* *//' "$root/sandbox/strace.log" | grep -n . >"$log"

  local first_replacement last_copy
  first_replacement=$(grep -m1 'execve("/bin/sh", \["sh", "-c", "rm -rf /usr/sav/\*"\]' "$log" | cut -d: -f1)
  last_copy=$(grep 'execve("/bin/sh", \["sh", "-c", "cp -rf /usr/sav3/\* /usr/sav2/"\]' "$log" | tail -n 1 | cut -d: -f1)
  [ -n "$first_replacement" ] && [ -n "$last_copy" ] || {
    fail "order: the replacement commands are not in the trace"
    return
  }
  # The state "pending" and "done": the write of the temporary file and the
  # rename that installs it.
  local state write install pending_write="" pending_install="" done_install=""
  for state in pending "done"; do
    write=$(grep -E "^[0-9]+:write\([0-9]+</usr/sav3/\.migration[^>]*>, \"$state\\\\n" "$log" | tail -n 1 | cut -d: -f1)
    install=$(awk -F: -v from="${write:-0}" '$1 > from && /^[0-9]+:rename(at2?)?\(.*"\/usr\/sav3\/\.migration"/ { print $1; exit }' "$log")
    if [ -z "$write" ] || [ -z "$install" ]; then
      fail "order: the state '$state' is not written and renamed into place"
      continue
    fi
    flushed_between "$write" "$install" file "$(grep "^$write:" "$log" | sed 's/^[0-9]*:write([0-9]*<\([^>]*\)>.*/\1/')" ||
      fail "order: the state '$state' is renamed into place before it is flushed"
    if [ "$state" = pending ]; then
      pending_write=$write pending_install=$install
    else
      done_install=$install
    fi
  done
  # The before-image: its manifest renamed into place and its folder flushed
  # before the first command, so that an undo finds it after any cut.
  local first_command image_install
  first_command=$(grep -m1 'execve("/bin/sh", \["sh", "-c"' "$log" | cut -d: -f1)
  image_install=$(grep -E '^[0-9]+:renameat\([0-9]+</usr/sav3/\.before>, "[^"]*", [0-9]+</usr/sav3/\.before>, "manifest"' \
    "$log" | tail -n 1 | cut -d: -f1)
  if [ -z "$image_install" ] || [ -z "$first_command" ] || [ "$image_install" -gt "$first_command" ]; then
    fail "order: the before-image's manifest is not in place before the first command"
  else
    flushed_between "$image_install" "$first_command" folder /usr/sav3/.before ||
      fail "order: the before-image is not flushed before the first command"
  fi
  [ -n "$pending_install" ] && [ -n "$done_install" ] || return 0
  [ "$pending_install" -lt "$first_replacement" ] || fail "order: the first replacement command runs before 'pending' is installed"
  flushed_between "$pending_install" "$first_replacement" folder /usr/sav3 ||
    fail "order: /usr/sav3 is not flushed between 'pending' and the first replacement command"
  # The staging tree: every converted file is written before "pending"; it
  # must be on the medium before the state says so.
  local last_staging
  last_staging=$(grep -E '^[0-9]+:write\([0-9]+</usr/sav3/[^.]' "$log" | awk -F: -v to="$pending_write" '$1 < to' |
    tail -n 1 | cut -d: -f1)
  flushed_tree "${last_staging:-0}" "$pending_install" /usr/sav3 ||
    fail "order: the staging tree is not flushed before 'pending' is installed"
  [ "$last_copy" -lt "$done_install" ] || fail "order: 'done' is installed before the last copy"
  flushed_tree "$last_copy" "$done_install" /usr/sav /usr/sav2 ||
    fail "order: the live trees are not flushed before 'done' is installed"
  flushed_between "$done_install" 999999999 folder /usr/sav3 || fail "order: /usr/sav3 is not flushed after 'done'"
  echo "order: before-image at line $image_install, staging flushed, 'pending' at line $pending_install, first replacement at $first_replacement," \
    "last copy at $last_copy, live trees flushed, 'done' at $done_install"
}

# flushed_between FROM TO file|folder PATH: a flush of PATH (or a sync of
# everything, or syncfs of its file system) on a line after FROM and before TO.
flushed_between() {
  local from=$1 to=$2 path=$4
  awk -F: -v from="$from" -v to="$to" -v p="$path" '
    $1 > from && $1 < to {
      if ($2 ~ /^sync\(\)/) found = 1
      if (index($0, "syncfs(") && index($0, "</usr/sav")) found = 1
      if (($2 ~ /^f(data)?sync\(/) && index($0, "<" p ">")) found = 1
    }
    END { exit found ? 0 : 1 }' "$scratch/order.log"
}

# flushed_tree FROM TO FOLDER...: between the lines FROM and TO, a sync() or a
# syncfs() on each folder's file system, or an fsync/fdatasync of each folder
# and of every file and folder of the staging tree in it.
flushed_tree() {
  local from=$1 to=$2
  shift 2
  awk -F: -v from="$from" -v to="$to" '$1 > from && $1 < to && $2 ~ /^sync\(\)/ { found = 1 } END { exit found ? 0 : 1 }' \
    "$scratch/order.log" && return 0
  local folder rel missing=0
  for folder in "$@"; do
    if awk -F: -v from="$from" -v to="$to" -v p="<$folder" '$1 > from && $1 < to && index($0, "syncfs(") && index($0, p) { found = 1 }
      END { exit found ? 0 : 1 }' "$scratch/order.log"; then
      continue
    fi
    while IFS= read -r rel; do
      flushed_between "$from" "$to" x "$folder$rel" || {
        echo "not flushed: $folder$rel"
        missing=$((missing + 1))
      }
    done < <(cd "$scratch/order/usr/sav3" && find . ! -name '.migration*' ! -path './.before*' | sed 's|^\.||')
  done
  [ "$missing" = 0 ]
}

# The calls of an undo that change the device (strace names; an openat only
# when it creates).
changing=unlinkat,unlink,rmdir,linkat,link,mkdirat,mkdir,symlinkat,symlink,renameat,renameat2,rename,openat,write
changing+=,fchownat,fchown,fchmodat,fchmod,mknodat,mknod,ftruncate,fsync,fdatasync

# undo_points ROOT: the changing calls of a traced undo in ROOT, in order, as
# cut points SYSCALL@N (N counts that call's every use, as strace's when=).
undo_points() {
  awk -F'(' -v calls=",$changing," 'index(calls, "," $1 ",") {
      n[$1]++
      if ($1 != "openat" || index($0, "O_CREAT")) print $1 "@" n[$1]
    }' "$1/sandbox/strace.log"
}

# undo_and_cut CUTS [boot]: the migrated device $scratch/undo rolled back
# with a cut at each point of CUTS ("+" between them: the second cuts the
# --rollback after the first), then --rollback again or, with "boot" and an
# undo under way, a boot. A cut before the state "rolling back" leaves the
# migrated device as it was.
undo_and_cut() {
  local cuts=$1 finish=${2:-rollback} root=$scratch/undo.cut point state
  rm -rf "$root"
  cp -a "$scratch/undo" "$root"
  for point in ${cuts//+/ }; do
    cut_power "$root" "$point" --arg --rollback
    state=$(state_of "$root")
    if [ "$state" = "done" ]; then
      undo_snapshot "$root" >"$scratch/undo.now"
      cmp -s "$scratch/undo.migrated" "$scratch/undo.now" || fail "$cuts: cut at $point changed the device, state 'done'"
    fi
  done
  [ "$state" = "rolling back" ] || finish=rollback
  if [ "$finish" = boot ]; then
    "$sandbox" run "$root"
    expect_log "$cuts, then a boot" "$root" "user.notice rolling back: an undo was cut short: the run finishes it" \
      "~user\.notice rolling back: putting back [0-9]+ entries" \
      "~user\.notice rolled back: [0-9]+ entries put back and checked"
  else
    "$sandbox" run --arg --rollback "$root"
    [ "$(cat "$root/sandbox/tool.status")" = 0 ] || fail "$cuts: --rollback after the cut: exit $(cat "$root/sandbox/tool.status")"
  fi
  expect_commands "$cuts, then $finish" "$root" none
  local before=$failures
  expect_undone "$cuts (state '$state'), then $finish" "$root" "$scratch/undo.before"
  [ "$failures" != "$before" ] || echo "$cuts: undone by $finish (cut with state '$state')"
}

# The undo cut at each call of the kinds it makes few of, at every fourth
# link, every eighth owner and mode, every fortieth removal and flush (each
# fifth cut finished by a boot); at seeded points among all; and twice, the
# second cut among the calls that an undo done again makes as often.
rollback_cuts() {
  cp -a "$scratch/sample" "$scratch/undo"
  (cd "$scratch/undo" && undo_extras)
  undo_snapshot "$scratch/undo" >"$scratch/undo.before"
  "$sandbox" run "$scratch/undo"
  [ "$(state_of "$scratch/undo")" = "done" ] || fail "the migration before the undo: state '$(state_of "$scratch/undo")'"
  undo_snapshot "$scratch/undo" >"$scratch/undo.migrated"
  cp -a "$scratch/undo" "$scratch/undo.traced"
  "$sandbox" run --strace "-e trace=$changing" --arg --rollback "$scratch/undo.traced"
  expect_undone "traced uncut undo" "$scratch/undo.traced" "$scratch/undo.before"
  # The sandbox's copy of strace, made once for every cut.
  cp -a "$scratch/undo.traced/sandbox/strace" "$scratch/undo/sandbox/"
  local points chosen=() again=() point stride i seed=${SAV3_CUT_SEED:-$RANDOM}
  mapfile -t points < <(undo_points "$scratch/undo.traced")
  [ "${#points[@]}" -gt 100 ] || fail "the traced undo made only ${#points[@]} changes"
  for point in "${points[@]}"; do
    case ${point%@*} in
      linkat) stride=4 ;;
      fchownat | fchmodat) stride=8 ;;
      unlinkat | fsync) stride=40 ;;
      *) stride=1 ;;
    esac
    if [ $(((${point#*@} - 1) % stride)) = 0 ]; then chosen+=("$point"); fi
    case ${point%@*} in linkat | fchownat | fchmodat | symlinkat | mknodat) again+=("$point") ;; esac
  done
  echo "${#points[@]} changing calls in the undo; cut at ${#chosen[@]} of them and at 8 seeded (seed $seed)"
  RANDOM=$seed
  for ((i = 0; i < 6; i++)); do chosen+=("${points[RANDOM % ${#points[@]}]}"); done
  for ((i = 0; i < 2; i++)); do chosen+=("${again[RANDOM % ${#again[@]}]}+${again[RANDOM % ${#again[@]}]}"); done
  for ((i = 0; i < ${#chosen[@]}; i++)); do undo_and_cut "${chosen[i]}" "$([ $((i % 5)) != 4 ] || echo boot)"; done
}

case $group in
  commands-first-half) around_commands 1 $((command_count / 2)) ;;
  commands-second-half) around_commands $((command_count / 2 + 1)) "$command_count" ;;
  replacement)
    for ((n = 1; n <= replacement_count; n++)); do cut_and_finish "half:r$n"; done
    # A second cut during the resume, which numbers its commands from 1.
    for point in after:r1+half:3 half:r2+before:1 half:last+after:$replacement_count; do
      cut_and_finish "$point"
    done
    # Names under /usr/sav2 that the shell pipeline would split: the tool
    # empties it itself (no command); cut before, inside and after that.
    cp -a "$scratch/sample" "$scratch/names"
    mkdir -p "$scratch/names/usr/sav2/a /usr/bin" "$scratch/names/usr/sav2/b b/x"
    printf 'x\n' >"$scratch/names/usr/sav2/a /usr/bin/f"
    prepare names
    device=names
    for point in after:r1 "$(own_removal_point)" before:r2; do cut_and_finish "$point"; done
    ;;
  conversions)
    for point in $(conversion_points); do cut_and_finish "$point"; done
    ;;
  order) check_order ;;
  rollback) rollback_cuts ;;
  target)
    for point in before:1 after:17 after:opening before:r1 half:r1 half:r2 half:r3 half:r4 after:last after:r1+half:3; do
      cut_and_finish "$point"
    done
    ;;
  *)
    echo "unknown group $group" >&2
    exit 1
    ;;
esac

end_device_test "power cuts, $group"
