#!/usr/bin/env bash
# Scenarios of the live-tree replacement on the small sample device, in the
# device sandbox, each with the exact lines the tool must write to the system
# log ("FACILITY.LEVEL TEXT", without time, host and process id) and what it
# must and must not change.
#
#   scenario_test.sh CASE TOOL
#     names             /usr/sav2 names that the shell pipeline would split or
#                       stop at (blank, tab, carriage return, newline, quotes,
#                       backslash), a leading dash, a link to a folder outside
#     update-log        a kept /usr/sav2/update_log that is a link to a folder
#                       outside, or a folder
#     small-live        /usr/sav2 on a file system too small for the staging
#                       tree, on a full run and on a resume
#     missing           /usr/sav2 missing; /usr/sav3 missing or a file
#     damaged-pending   a staging tree that no longer matches its manifest,
#                       resumed until abandoned
#     after-done        a reboot after a complete run (the new firmware has
#                       changed live files); a downgrade and a re-upgrade
#     marker            the marker with no state and with "pending"
#     staging-tmpfs     a staging tree that does not survive a reboot
#     arguments         --help, -h, --version and a few wrong ones
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/device/testlib.sh
. "$here/testlib.sh"
case_name=${1:?usage: scenario_test.sh CASE TOOL}
tool=${2:?usage: scenario_test.sh CASE TOOL}
begin_device_test "$tool"

full_run=("user.notice full run" "user.notice pending: replacing the live trees" "user.notice done")
# Every full run says which zone it reads times in (the sandbox's /etc/localtime).
zone="user.notice times read in zone /etc/localtime"
by_hand="user.notice removing the entries of /usr/sav2 one by one (names the shell would split)"

sample_updates=(firmware_update.txt update_pkg)

make_device template "$tool"

# A plain run: what the other cases are compared with.
fresh plain
"$sandbox" run "$scratch/plain"
expect_log plain "$scratch/plain" "${full_run[0]}" "$zone" "$image_line" "${full_run[1]}" "${full_run[2]}"
outside "$scratch/plain" >"$scratch/plain.outside"

# names: each row is a name, what it holds, whether the pipeline may still run
# (no byte the shell would split or stop at), and a kept entry with the same
# trouble. Every row also has a link to a folder outside /usr/sav2.
names() {
  local kind name inside way kept root
  while IFS='|' read -r kind name inside way kept; do
    name=$(printf '%b' "$name")
    kept=$(printf '%b' "$kept")
    fresh "$kind"
    root=$scratch/$kind
    mkdir -p "$root/usr/sav2/$name/$inside"
    printf 'data\n' >"$root/usr/sav2/$name/$inside/file"
    ln -s /mnt/1/etc "$root/usr/sav2/outside"
    [ -z "$kept" ] || printf 'kept\n' >"$root/usr/sav2/$kept"
    "$sandbox" run "$scratch/$kind"
    check_quiet_exit "$root"
    if [ "$way" = command ]; then
      expect_log "$kind" "$root" "${full_run[0]}" "$zone" "$image_line" "${full_run[1]}" "${full_run[2]}"
      expect_commands "$kind" "$root" all
    else
      expect_log "$kind" "$root" "${full_run[0]}" "$zone" "$image_line" "${full_run[1]}" "$by_hand" "${full_run[2]}"
      expect_commands "$kind" "$root" without-find
    fi
    outside "$root" >"$scratch/outside"
    expect_same "$kind: something outside /usr/sav2 changed" "$scratch/plain.outside" "$scratch/outside"
    if [ -n "$kept" ]; then
      expect_replaced "$kind" "$root" "${sample_updates[@]}" "$kept"
    else
      expect_replaced "$kind" "$root" "${sample_updates[@]}"
    fi
    expect_state "$kind" "$root" "done"
    echo "$kind: $way"
  done <<'ROWS'
blank|a |usr|by hand|notes update 
tab|b\t|mnt|by hand|
carriage-return|c\r|mnt/1|by hand|update\rlog
newline|d\nusr|x|by hand|
single-quote|it's|x|by hand|
double-quote|say "hi"|x|by hand|
backslash|e\\usr|x|by hand|
dash|-rf|mnt|command|
link-only|plain|x|command|
ROWS
}

# update-log: a kept update_log that the copy would write through or fail on.
update_log() {
  local kind root
  for kind in link folder; do
    fresh "update-log-$kind"
    root=$scratch/update-log-$kind
    rm -f "$root/usr/sav2/update_log"
    if [ $kind = link ]; then
      ln -s /mnt/1/etc "$root/usr/sav2/update_log"
    else
      mkdir -p "$root/usr/sav2/update_log/old"
      printf 'old\n' >"$root/usr/sav2/update_log/old/entry"
    fi
    "$sandbox" run "$root"
    check_quiet_exit "$root"
    expect_log "update_log $kind" "$root" "${full_run[0]}" "$zone" "$image_line" "${full_run[1]}" \
      "user.notice removed /usr/sav2/update_log: not of the kind the staging tree has there" "${full_run[2]}"
    expect_commands "update_log $kind" "$root" all
    outside "$root" >"$scratch/outside"
    expect_same "update_log $kind: something outside /usr/sav2 changed" "$scratch/plain.outside" "$scratch/outside"
    expect_replaced "update_log $kind" "$root" "${sample_updates[@]}"
    expect_state "update_log $kind" "$root" "done"
  done
}

# expect_no_room WHAT ROOT FORM LINE...: the log is the LINEs and then the
# room line for /usr/sav2 in FORM ("before": the check before the first
# command; "after": the check after the gate), with its figures: more needed
# than free.
expect_no_room() {
  local what=$1 root=$2 form=$3 line pattern
  shift 3
  line=$(sed -n "$(($# + 1))p" "$root/sandbox/tool.log")
  expect_log "$what" "$root" "$@" "$line"
  pattern='^user\.err not enough room on the file system of /usr/sav2: need ([0-9]+) KiB, free ([0-9]+) KiB$'
  [ "$form" = after ] ||
    pattern='^user\.err precondition failed: room: /usr/sav2: need ([0-9]+) KiB, free ([0-9]+) KiB: nothing done$'
  if [[ $line =~ $pattern ]]; then
    [ "${BASH_REMATCH[1]}" -gt "${BASH_REMATCH[2]}" ] || fail "$what: need ${BASH_REMATCH[1]} KiB is not more than free"
    [ "${BASH_REMATCH[2]}" -le 512 ] || fail "$what: ${BASH_REMATCH[2]} KiB free on a 512 KiB file system"
  else
    fail "$what: no room line for /usr/sav2: '$line'"
  fi
}

# expect_live_kept WHAT ROOT: /usr/sav as it was, and /usr/sav2 on its small
# file system (copied out after the run) as it was.
expect_live_kept() {
  snapshot "$scratch/template" usr/sav >"$scratch/before"
  snapshot "$2" usr/sav >"$scratch/after"
  expect_same "$1: /usr/sav changed" "$scratch/before" "$scratch/after"
  snapshot "$scratch/template" usr/sav2 >"$scratch/before"
  snapshot "$2/sandbox/tmpfs" usr/sav2 >"$scratch/after"
  expect_same "$1: /usr/sav2 changed" "$scratch/before" "$scratch/after"
}

# small-live: /usr/sav2 on a 512 KiB file system; the staging tree needs more.
small_live() {
  local root=$scratch/small
  fresh small
  "$sandbox" run --tmpfs /usr/sav2 512k "$root"
  check_quiet_exit "$root"
  # Seen before the first command: no command, nothing killed.
  expect_no_room "small, full run" "$root" before "${full_run[0]}" "$zone"
  expect_commands "small, full run" "$root" none
  [[ $(state_of "$root") == "kept precondition failed: room: /usr/sav2: need "* ]] ||
    fail "small, full run: state '$(state_of "$root")'"
  expect_live_kept "small, full run" "$root"

  # A resume: a cut before the first replacement command left "pending".
  fresh small-resume
  root=$scratch/small-resume
  "$sandbox" run --cut "$(cut_point before:r1)" "$root"
  expect_state "small, cut" "$root" pending
  "$sandbox" run --tmpfs /usr/sav2 512k "$root"
  check_quiet_exit "$root"
  expect_no_room "small, resume" "$root" after "user.notice resumed: attempt 1"
  expect_commands "small, resume" "$root" none
  expect_state "small, resume" "$root" pending
  expect_live_kept "small, resume" "$root"
}

missing() {
  local root=$scratch/no-sav2
  fresh no-sav2
  rm -rf "$root/usr/sav2"
  "$sandbox" run "$root"
  check_quiet_exit "$root"
  expect_log "no /usr/sav2" "$root" "${full_run[0]}" "$zone" "$image_line" \
    "user.notice live tree /usr/sav2 was missing: created" "${full_run[1]}" "${full_run[2]}"
  expect_commands "no /usr/sav2" "$root" all
  expect_replaced "no /usr/sav2" "$root"
  expect_state "no /usr/sav2" "$root" "done"

  local kind
  for kind in missing file; do
    fresh "staging-$kind"
    root=$scratch/staging-$kind
    rm -rf "$root/usr/sav3"
    [ $kind = missing ] || printf 'not a folder\n' >"$root/usr/sav3"
    snapshot "$root" >"$scratch/before"
    "$sandbox" run "$root" /mnt/2/tools/spi /sbin/dhclient
    check_quiet_exit "$root"
    expect_log "/usr/sav3 $kind" "$root" "user.err staging folder /usr/sav3 is not a folder: nothing done"
    expect_commands "/usr/sav3 $kind" "$root" none
    snapshot "$root" >"$scratch/after"
    expect_same "/usr/sav3 $kind: the device changed" "$scratch/before" "$scratch/after"
    [ "$(grep -c ' running$' "$root/sandbox/daemons")" = 2 ] || fail "/usr/sav3 $kind: a daemon was killed"
  done
}

# damaged-pending: "pending", then a staging file changes; each run resumes,
# finds the mismatch and changes nothing more; the third gives up.
damaged_pending() {
  local root=$scratch/damaged attempt
  fresh damaged
  "$sandbox" run --cut "$(cut_point before:r1)" "$root"
  expect_state "damaged, cut" "$root" pending
  printf '\x77' | dd of="$root/usr/sav3/history/port0" bs=1 seek=100 conv=notrunc status=none
  snapshot "$root" usr/sav usr/sav2 usr/sav3 | grep -v ' usr/sav3/\.migration *$' >"$scratch/before"
  for attempt in 1 2 3 4; do
    "$sandbox" run "$root"
    check_quiet_exit "$root"
    case $attempt in
      4)
        expect_log "damaged, run $attempt" "$root" "user.notice abandoned earlier: nothing done"
        expect_state "damaged, run $attempt" "$root" "abandoned after 3 attempts"
        ;;
      3)
        expect_log "damaged, run $attempt" "$root" "user.notice resumed: attempt 3" \
          "user.err manifest mismatch: /usr/sav3/history/port0: nothing more changed" "user.err abandoned after 3 attempts"
        expect_state "damaged, run $attempt" "$root" "abandoned after 3 attempts"
        ;;
      *)
        expect_log "damaged, run $attempt" "$root" "user.notice resumed: attempt $attempt" \
          "user.err manifest mismatch: /usr/sav3/history/port0: nothing more changed"
        expect_state "damaged, run $attempt" "$root" pending
        ;;
    esac
    expect_commands "damaged, run $attempt" "$root" none
    snapshot "$root" usr/sav usr/sav2 usr/sav3 | grep -v ' usr/sav3/\.migration *$' >"$scratch/after"
    expect_same "damaged, run $attempt: the trees changed" "$scratch/before" "$scratch/after"
  done
}

# after-done: a complete run, then the new firmware changes live files and
# the device reboots: nothing runs. Then an old firmware writes its reports
# back (a downgrade) and the upgrade runs again: a full run, the same bytes as
# the first.
after_done() {
  local root=$scratch/after-done
  fresh after-done
  "$sandbox" run "$root"
  expect_state "complete run" "$root" "done"
  # Without the before-image: the second run keeps one of the trees it found.
  snapshot "$root" usr/sav usr/sav2 usr/sav3 | grep -v ' usr/sav3/\.before' >"$scratch/first"
  printf 'rewritten by the new firmware\n' >"$root/usr/sav/data/port0"
  printf 'new\n' >"$root/usr/sav2/cfg/added"
  snapshot "$root" >"$scratch/before"
  "$sandbox" run "$root" /mnt/2/tools/keepme
  check_quiet_exit "$root"
  expect_log "reboot after done" "$root" "user.notice already done: nothing to do"
  expect_commands "reboot after done" "$root" none
  snapshot "$root" >"$scratch/after"
  expect_same "reboot after done: the device changed" "$scratch/before" "$scratch/after"

  rm -rf "$root/usr/sav"
  cp -a "$scratch/legacy/usr/sav" "$root/usr/sav"
  "$sandbox" run "$root"
  check_quiet_exit "$root"
  expect_log "re-upgrade" "$root" "user.notice full run: legacy reports back under /usr/sav/data" "$zone" \
    "user.notice an old before-image removed" "$image_line" "${full_run[1]}" "${full_run[2]}"
  expect_commands "re-upgrade" "$root" all
  expect_state "re-upgrade" "$root" "done"
  snapshot "$root" usr/sav usr/sav2 usr/sav3 | grep -v ' usr/sav3/\.before' >"$scratch/second"
  expect_same "re-upgrade: not the bytes of the first migration" "$scratch/first" "$scratch/second"
}

marker() {
  local root
  fresh marker
  root=$scratch/marker
  printf 'configured\n' >"$root/mnt/data/port0"
  snapshot "$root" >"$scratch/before"
  "$sandbox" run "$root"
  expect_log "marker" "$root" "user.notice marker present: nothing done"
  expect_commands "marker" "$root" none
  snapshot "$root" >"$scratch/after"
  expect_same "marker: the device changed" "$scratch/before" "$scratch/after"

  fresh marker-pending
  root=$scratch/marker-pending
  "$sandbox" run --cut "$(cut_point before:r1)" "$root"
  printf 'configured\n' >"$root/mnt/data/port0"
  snapshot "$root" >"$scratch/before"
  "$sandbox" run "$root"
  check_quiet_exit "$root"
  expect_log "marker while pending" "$root" "user.notice marker present while the state is pending: nothing done"
  expect_commands "marker while pending" "$root" none
  snapshot "$root" >"$scratch/after"
  expect_same "marker while pending: the device changed" "$scratch/before" "$scratch/after"
}

staging_tmpfs() {
  local root=$scratch/staging-tmpfs
  fresh staging-tmpfs
  "$sandbox" run --tmpfs /usr/sav3 8m "$root"
  check_quiet_exit "$root"
  expect_log "staging on tmpfs" "$root" \
    "user.warn staging tree on a file system that does not survive a reboot" "${full_run[0]}" "$zone" "$image_line" "${full_run[1]}" "${full_run[2]}"
  expect_commands "staging on tmpfs" "$root" all
  [ "$(state_of "$root/sandbox/tmpfs")" = "done" ] || fail "staging on tmpfs: state '$(state_of "$root/sandbox/tmpfs")'"
}

# arguments: only no argument at all migrates. --help, -h and --version
# answer on standard output with status 0; anything else gets the usage and
# a line naming the argument on standard error and status 2. No migration,
# no log line, nothing touched, no daemon killed. The whole table of cases
# is the unit test's (Arguments); these rows run the static tool itself.
arguments() {
  local args status out err root version i=0 words
  version=$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
  [ -n "$version" ] || fail "no project version in CMakeLists.txt"
  while IFS='|' read -r args status out err; do
    i=$((i + 1))
    fresh "arg$i"
    root=$scratch/arg$i
    snapshot "$root" >"$scratch/before"
    read -ra words <<<"$args"
    local options=() word
    for word in "${words[@]}"; do options+=(--arg "$word"); done
    "$sandbox" run "${options[@]}" "$root" /mnt/2/tools/spi
    expect_log "$args" "$root"
    expect_commands "$args" "$root" none
    snapshot "$root" >"$scratch/after"
    expect_same "$args: the device changed" "$scratch/before" "$scratch/after"
    [ "$(cat "$root/sandbox/daemons")" = "/mnt/2/tools/spi running" ] || fail "$args: the daemon was killed"
    local box=$root/sandbox
    [ "$(cat "$box/tool.status")" = "$status" ] || fail "$args: status $(cat "$box/tool.status"), not $status"
    case $out in
      usage) grep -q '^usage: sav3-migrate' "$box/tool.out" || fail "$args: no usage on stdout" ;;
      version) [ "$(cat "$box/tool.out")" = "sav3-migrate $version" ] || fail "$args: '$(cat "$box/tool.out")'" ;;
      *) [ ! -s "$box/tool.out" ] || fail "$args: printed on stdout" ;;
    esac
    if [ -z "$err" ]; then
      [ ! -s "$box/tool.err" ] || fail "$args: printed on stderr"
    else
      head -n 1 "$box/tool.err" | grep -q '^usage: sav3-migrate$' || fail "$args: stderr is not the usage"
      [ "$(tail -n 1 "$box/tool.err")" = "sav3-migrate: $err" ] || fail "$args: last line '$(tail -n 1 "$box/tool.err")'"
    fi
  done <<'ROWS'
--help|0|usage|
-h|0|usage|
--version|0|version|
help|2||unexpected argument help
--chek|2||unknown option --chek
--check --jsn|2||unknown option --jsn
-x --help|2||unknown option -x
ROWS
}

case $case_name in
  names) names ;;
  update-log) update_log ;;
  small-live) small_live ;;
  missing) missing ;;
  damaged-pending) damaged_pending ;;
  after-done) after_done ;;
  marker) marker ;;
  staging-tmpfs) staging_tmpfs ;;
  arguments) arguments ;;
  *)
    echo "unknown case $case_name" >&2
    exit 1
    ;;
esac

end_device_test "scenario $case_name"
