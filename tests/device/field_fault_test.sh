#!/usr/bin/env bash
# The faults met in the field (read errors, FIFOs, failed copies, links,
# read-only trees, mount points, stale or damaged state, the zone), each over
# several boots of the small sample device in the device sandbox. The cases
# are the rows of field_faults.txt (its head says how to read them); this
# runner runs those of one group.
#
#   field_fault_test.sh GROUP TOOL
#
# Every boot: the exact log lines, the exact commands, the state file's first
# line (and its second where the row gives one), the tool silent with status
# 0, the daemons alive when no command ran; the live trees as they were
# before the boot when no command ran, and while the state is "kept" as they
# were before the first boot of that kept spell; a file planted on every file
# system that a boot mounts below a tree (or binds there) still there after
# it. After the last boot: nothing outside the three trees changed but the old
# programs of /mnt/2; a device that ends "done" holds in /usr/sav3 the very
# outputs of an unfaulted run (names, modes, bytes); the row's own checks.
# Then a device that ends "done", "kept" or "abandoned" is rolled back
# (sav3-migrate --rollback): with a before-image, every entry under /usr/sav,
# /usr/sav2, /usr/sav3 and /mnt/2 comes back as it was before the first boot
# (kind, mode, owner, bytes, link target, the names that are one file);
# without one, the refusal changes nothing.
# Rows marked "host" need strace on the tool itself and are skipped for an ARM
# tool (strace sees qemu's calls there). A row under a comment line
# "# pending: WHY" is skipped and listed with its reason.
#
#   field_fault_test.sh GROUP[/ROW] TOOL      (only that row of the group)
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/device/testlib.sh
. "$here/testlib.sh"
group=${1:?usage: field_fault_test.sh GROUP[/ROW] TOOL}
tool=${2:?usage: field_fault_test.sh GROUP[/ROW] TOOL}
only=""
[[ $group != */* ]] || {
  only=${group#*/}
  group=${group%%/*}
}
begin_device_test "$tool"

arm=0
[ "$(od -An -tx1 -j18 -N2 "$tool" | tr -d ' \n')" != 2800 ] || arm=1
# A boot that takes longer is a tool blocked (on a FIFO): the sandbox ends it.
export SAV3_SANDBOX_TIMEOUT=60
daemons=(/mnt/2/tools/spi /sbin/dhclient /mnt/2/tools/keepme)
sample_updates=(firmware_update.txt update_pkg)
make_device template "$tool"

trim() {
  local text=$1
  text=${text#"${text%%[! ]*}"}
  echo "${text%"${text##*[! ]}"}"
}

# The live trees where they resolve, without the state files that a staging
# folder inside them would hold.
live_of() {
  local sav sav2
  sav=$(device_path "$1" /usr/sav)
  sav2=$(device_path "$1" /usr/sav2)
  snapshot "$1" "${sav#"$1"/}" "${sav2#"$1"/}" | grep -v '/\.migration' || true
}

# outside_filter ROOT [done] < SNAPSHOT: an `outside` snapshot without state
# files; after a migration, also without the live and staging trees that
# resolve outside /usr (they were replaced; their own checks cover them).
outside_filter() {
  local root=$1 tree path drop=('/\.migration')
  if [ "${2:-}" = "done" ]; then
    for tree in /usr/sav3 /usr/sav /usr/sav2; do
      path=$(device_path "$root" "$tree")
      path=${path#"$root"/}
      case $path in usr/*) ;; *) drop+=(" $path(/| |\$)") ;; esac
    done
  fi
  grep -Ev "$(
    IFS='|'
    echo "${drop[*]}"
  )" || true
}

# state_line ROOT N: line N of the state file ("" without one; "(not a file)"
# for a FIFO or anything else that is not a regular file, never read).
state_line() {
  local file
  file=$(device_path "$1" /usr/sav3)/.migration
  if [ -f "$file" ]; then
    sed -n "${2}p" "$file" 2>/dev/null || true
  elif [ -e "$file" ] || [ -L "$file" ]; then
    [ "$2" != 1 ] || echo "(not a file)"
  fi
}

# The staging tree's entries but its dot entries (the state, the tool's own):
# what a done device holds, to compare with an unfaulted run's.
outputs_of() {
  (cd "$(device_path "$1" /usr/sav3)" && find . -mindepth 1 -path './.*' -prune -o -printf '%y %m %p %l\n' |
    LC_ALL=C sort && find . -mindepth 1 -path './.*' -prune -o -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
}
# The outputs of the sample device's unfaulted run, made once.
plain_outputs() {
  [ -s "$scratch/plain.outputs" ] && return 0
  fresh plain-outputs
  "$sandbox" run "$scratch/plain-outputs" "${daemons[@]}" || fail "the unfaulted run failed"
  outputs_of "$scratch/plain-outputs" >"$scratch/plain.outputs"
}

# mounts_of WORD...: "tmpfs DIR" and "bind SRC DIR" for each file system that
# these sandbox options mount below a tree (not on a tree itself).
mounts_of() {
  while [ $# -gt 0 ]; do
    case $1 in
      --tmpfs)
        case $2 in /usr/sav | /usr/sav2 | /usr/sav3) ;; *) echo "tmpfs $2" ;; esac
        shift 2
        ;;
      --bind) echo "bind $2 $3" && shift 2 ;;
    esac
    shift
  done
}
planted=planted-by-the-test

# expect_text WHAT ACTUAL EXPECTED: equal, or EXPECTED is "~REGEX" and matches.
expect_text() {
  if [ "${3:0:1}" = "~" ]; then
    [[ $2 =~ ^${3:1}$ ]] || fail "$1 '$2', not matching '${3:1}'"
  else
    [ "$2" = "$3" ] || fail "$1 '$2', not '$3'"
  fi
}

# Every file's kind, mode, time of change, size and bytes: what a check that
# writes nothing leaves exactly as it was (a probe file created and removed
# would change its folder's time).
whole() {
  (cd "$1" && find usr mnt bin etc sbin -printf '%y %m %C@ %s %p %l\n' | LC_ALL=C sort &&
    find usr mnt bin etc sbin -type f -size -64M -exec sha256sum {} + | LC_ALL=C sort -k2) 2>/dev/null || true
}

# check_first WHAT ROOT "EXIT VERDICT: REASON" [SANDBOX RUN OPTION...]: the
# check, run before the boot with the same options (but the power cut), says
# what the table says, in both forms, and changes nothing: no command, one
# log line, every file as it was.
check_first() {
  local what="$1, check" root=$2 expected=$3 options=() json status last
  shift 3
  while [ $# -gt 0 ]; do
    case $1 in
      --cut) shift 2 ;;
      *) options+=("$1") && shift ;;
    esac
  done
  whole "$root" >"$scratch/check.before"
  # No dummy daemons: the sandbox would write one where a run removed it.
  "$sandbox" run "${options[@]}" --arg --check "$root" || fail "$what: the sandbox run failed"
  status=$(cat "$root/sandbox/tool.status")
  last=$(tail -n 1 "$root/sandbox/tool.out")
  expect_text "$what: exit status and verdict" "$status ${last#verdict: }" "$expected"
  expect_log "$what" "$root" "user.$([ "$status" = 0 ] && echo notice || echo warn) check: ${last#verdict: }"
  cp "$root/sandbox/tool.out" "$scratch/check.out"
  expect_commands "$what" "$root" none
  whole "$root" >"$scratch/check.after"
  expect_same "$what: the device changed" "$scratch/check.before" "$scratch/check.after"
  "$sandbox" run "${options[@]}" --arg --check --arg --json "$root" || fail "$what: the sandbox run failed"
  json=$(jq -r '"\(.exit) \(.verdict): \(.reason)"' "$root/sandbox/tool.out") || fail "$what: not one JSON object"
  [ "$json" = "$status ${last#verdict: }" ] || fail "$what: JSON says '$json', text '$status ${last#verdict: }'"
}

# boots ROW LINE [plant]: the boots of one "boot" line of the table; with
# "plant", only plant the files on the file systems that they mount.
boots() {
  local row=$1 root=$scratch/$1 mode=${3-} fields words=() times=1 log=() entry state count box i mount kind src dir
  IFS='|' read -ra fields <<<"$2"
  eval "words=(${fields[0]})"
  words=("${words[@]:1}")
  if [[ ${words[0]-} =~ ^x([0-9]+)$ ]]; then
    times=${BASH_REMATCH[1]}
    words=("${words[@]:1}")
  fi
  local -x SAV3_SANDBOX_TIMEOUT=$SAV3_SANDBOX_TIMEOUT
  if [ "${words[0]-}" = within ]; then
    SAV3_SANDBOX_TIMEOUT=${words[1]}
    words=("${words[@]:2}")
  fi
  local mounts=()
  mapfile -t mounts < <(mounts_of "${words[@]}")
  # Planted before the row's first look at the device, so that it is part of
  # what must stay.
  for mount in "${mounts[@]}"; do
    read -r kind src dir <<<"$mount"
    [ ! -d "$root$src" ] || [ -e "$root$src/$planted" ] || echo "on the mounted file system" >"$root$src/$planted"
  done
  [ "$mode" != plant ] || return 0
  for i in "${!words[@]}"; do [ "${words[i]}" != --cut ] || words[i + 1]=$(cut_point "${words[i + 1]}"); done
  for entry in "${fields[@]:5}"; do
    case $(trim "$entry") in
      @full) log+=("user.notice full run" "user.notice times read in zone /etc/localtime") ;;
      @again) log+=("user.notice full run: the last run kept the live trees" "user.notice times read in zone /etc/localtime") ;;
      @replace) log+=("user.notice pending: replacing the live trees" "user.notice done") ;;
      @image) log+=("$image_line") ;;
      *) log+=("$(trim "$entry")") ;;
    esac
  done
  local commands state second verdict
  commands=$(trim "${fields[1]}")
  state=$(trim "${fields[2]}")
  second=$(trim "${fields[3]}")
  verdict=$(trim "${fields[4]}")
  case $verdict in
    @kept) [ "${state:0:1}" = "~" ] && verdict="~1 keep: ${state#~kept }" || verdict="1 keep: ${state#kept }" ;;
    @full) verdict="0 replace: full run" ;;
    @again) verdict="0 replace: full run: the last run kept the live trees" ;;
    @done) verdict="0 nothing: already done" ;;
  esac
  for ((count = 0; count < times; count++)); do
    boot=$((boot + 1))
    local what="$row, boot $boot" ran=1
    # A spell of kept runs (or none) starts here; it must leave the live trees as they are now.
    [[ "$(state_line "$root" 1)" == kept* ]] || live_of "$root" >"$scratch/$row.live"
    check_first "$what" "$root" "$verdict" "${words[@]}"
    live_of "$root" >"$scratch/before"
    [ "$commands" = none ] || changed=1
    "$sandbox" run "${words[@]}" "$root" "${daemons[@]}" || {
      fail "$what: the sandbox run failed (the tool hung or died)"
      ran=0
    }
    cp "$scratch/check.out" "$root/sandbox/check.out" 2>/dev/null || true
    box=$scratch/$row.boot$boot
    mkdir -p "$box"
    cp "$root"/sandbox/{tool.*,commands.log,shell.log,strace.log,daemons} "$box/" 2>/dev/null || true
    expect_log "$what" "$root" "${log[@]}"
    expect_commands "$what" "$root" "$commands"
    expect_text "$what: state" "$(state_line "$root" 1)" "${state/#none/}"
    [ "$second" = - ] || expect_text "$what: state line 2" "$(state_line "$root" 2)" "$second"
    if [ $ran = 1 ] && [[ " ${words[*]} " != *" --cut "* ]]; then
      check_quiet_exit "$root"
      grep -qx '/mnt/2/tools/keepme running' "$root/sandbox/daemons" || fail "$what: a daemon it must leave was killed"
      [ "$commands" != none ] || grep -qx '/sbin/dhclient running' "$root/sandbox/daemons" ||
        fail "$what: the DHCP client was killed, with no command issued"
      for mount in "${mounts[@]}"; do
        read -r kind src dir <<<"$mount"
        [ "$kind" = bind ] || src=/sandbox/tmpfs$src
        [ -f "$root$src/$planted" ] || fail "$what: a removal crossed the mount point ${dir:-$src}"
      done
    fi
    live_of "$root" >"$scratch/after"
    case $state in
      kept* | "~kept"* | none) expect_same "$what: the live trees changed, state $state" "$scratch/$row.live" \
        "$scratch/after" ;;
      *) [ "$commands" != none ] || expect_same "$what: the live trees changed with no command" "$scratch/before" \
        "$scratch/after" ;;
    esac
  done
}

# retry ROW LINE: one "retry" line of the table: sav3-migrate --retry runs no
# command and changes nothing but the state file.
retry() {
  local row=$1 root=$scratch/$1 fields what="$1, retry after boot $boot"
  IFS='|' read -ra fields <<<"$2"
  local unchanged=' usr/sav3 $|\.migration'
  whole "$root" | grep -Ev "$unchanged" >"$scratch/retry.before"
  "$sandbox" run --arg --retry "$root" || fail "$what: the sandbox run failed"
  expect_text "$what: exit status" "$(cat "$root/sandbox/tool.status")" "$(trim "${fields[1]}")"
  expect_log "$what" "$root" "$(trim "${fields[4]}")"
  expect_commands "$what" "$root" none
  expect_text "$what: state" "$(state_line "$root" 1)" "$(trim "${fields[2]}")"
  expect_text "$what: state line 2" "$(state_line "$root" 2)" "$(trim "${fields[3]}")"
  whole "$root" | grep -Ev "$unchanged" >"$scratch/retry.after"
  expect_same "$what: more than the state changed" "$scratch/retry.before" "$scratch/retry.after"
}

# tool_run ROW LINE: one "tool" line of the table: the tool run with these
# arguments (no boot): its exit status, the state's first line, a line it
# printed (on stdout or stderr), its log lines exactly, no command.
tool_run() {
  local row=$1 root=$scratch/$1 fields args=() options=() arg printed line found=0 log=() entry
  IFS='|' read -ra fields <<<"$2"
  eval "args=(${fields[0]})"
  args=("${args[@]:1}")
  local what="$row, ${args[*]} after boot $boot"
  for arg in "${args[@]}"; do options+=(--arg "$arg"); done
  "$sandbox" run "${options[@]}" "$root" || fail "$what: the sandbox run failed"
  local status
  status=$(cat "$root/sandbox/tool.status")
  expect_text "$what: exit status" "$status" "$(trim "${fields[1]}")"
  local state
  state=$(trim "${fields[2]}")
  expect_text "$what: state" "$(state_line "$root" 1)" "${state/#none/}"
  printed=$(trim "${fields[3]}")
  while IFS= read -r line; do
    if [ "${printed:0:1}" = "~" ]; then [[ $line =~ ^${printed:1}$ ]] && found=1; else [ "$line" != "$printed" ] || found=1; fi
  done < <(cat "$root/sandbox/tool.out" "$root/sandbox/tool.err")
  [ $found = 1 ] || fail "$what: printed no line '$printed': $(cat "$root/sandbox/tool.out" "$root/sandbox/tool.err")"
  for entry in "${fields[@]:4}"; do log+=("$(trim "$entry")"); done
  expect_log "$what" "$root" "${log[@]}"
  expect_commands "$what" "$root" none
  # A commit ends what the migration can undo.
  [[ " ${args[*]} " != *" --commit "* ]] || [ "$status" != 0 ] || changed=0
}

# undo_row ROW: the undo of a row that ends done, kept or abandoned. With a
# before-image, sav3-migrate --rollback puts back every entry as it was before
# the first boot; without one it refuses and changes nothing, and then no
# boot may have issued a command unless its state says why it kept no image.
undo_row() {
  local root=$scratch/$1 what="$1, --rollback at the end" image=0
  [ ! -f "$(device_path "$root" /usr/sav3)/.before/manifest" ] || image=1
  undo_snapshot "$root" >"$scratch/undo.before"
  "$sandbox" run --arg --rollback "$root" || fail "$what: the sandbox run failed"
  expect_commands "$what" "$root" none
  if [ $image = 1 ]; then
    expect_text "$what: exit status and output" "$(cat "$root/sandbox/tool.status") $(cat "$root/sandbox/tool.out")" \
      "~0 sav3-migrate: rolled back: [0-9]+ entries put back and checked"
    expect_undone "$what" "$root" "$scratch/$1.undo"
    undo_result="undone exactly"
  else
    expect_text "$what: exit status and output" "$(cat "$root/sandbox/tool.status") $(cat "$root/sandbox/tool.err")" \
      "1 sav3-migrate: rollback refused: no before-image: nothing changed"
    undo_snapshot "$root" >"$scratch/undo.after"
    expect_same "$what: the refusal changed the device" "$scratch/undo.before" "$scratch/undo.after"
    [ $changed = 0 ] || grep -q '^undo none: ' "$(device_path "$root" /usr/sav3)/.migration" ||
      fail "$what: the migration issued commands and kept no before-image, without saying why"
    undo_result="no before-image"
  fi
}

# run_row GROUP NAME [host] [own-outputs] END...: the row's lines are in
# `lines`, its pending reason in `pending`.
run_row() {
  local row=$2 root=$scratch/$2 line checks=() boot=0 started=0 before=$failures own=0 changed=0 undo_result=""
  shift 2
  [ -z "$only" ] || [ "$only" = "$row" ] || return 0
  [ -z "$pending" ] || {
    echo "$row: skipped, pending: $pending"
    return 0
  }
  if [ "${1-}" = host ]; then
    shift
    [ $arm = 0 ] || {
      echo "$row: host only"
      return 0
    }
  fi
  if [ "${1-}" = own-outputs ]; then
    shift
    own=1
  fi
  fresh "$row"
  for line in "${lines[@]}"; do
    case $line in
      '$ '*) (cd "$root" && eval "${line:2}") || fail "$row: setup failed: ${line:2}" ;;
      '? '*) checks+=("${line:2}") ;;
      retry*) retry "$row" "$line" ;;
      undone) expect_undone "$row" "$root" "$scratch/$row.undo" ;;
      tool*)
        [ -s "$scratch/$row.undo" ] || undo_snapshot "$root" >"$scratch/$row.undo"
        tool_run "$row" "$line"
        ;;
      boot*)
        if [ $started = 0 ]; then
          boots "$row" "$line" plant
          # What an undo must give back: the device before its first boot.
          [ -s "$scratch/$row.undo" ] || undo_snapshot "$root" >"$scratch/$row.undo"
          live_of "$root" >"$scratch/$row.live"
          outside "$root" >"$scratch/$row.outside"
          started=1
        fi
        boots "$row" "$line"
        ;;
    esac
  done
  local final
  final=$(state_line "$root" 1)
  outside "$root" | outside_filter "$root" "$final" >"$scratch/after"
  outside_filter "$root" "$final" <"$scratch/$row.outside" >"$scratch/before-outside"
  expect_same "$row: something outside the trees changed" "$scratch/before-outside" "$scratch/after"
  [ "${1-}" != replaced ] || expect_replaced "$row" "$root" "${sample_updates[@]}" "${@:2}"
  if [ "$final" = done ] && [ $own = 0 ]; then
    plain_outputs
    outputs_of "$root" >"$scratch/$row.outputs"
    expect_same "$row: the outputs differ from an unfaulted run's" "$scratch/plain.outputs" "$scratch/$row.outputs"
  fi
  for line in "${checks[@]}"; do
    (cd "$root" && eval "$line") >/dev/null 2>&1 || fail "$row: $line"
  done
  case $final in done | kept* | abandoned*) undo_row "$row" ;; esac
  if [ "$failures" = "$before" ]; then
    echo "$row: $boot boots: pass${undo_result:+, $undo_result}"
  else
    echo "$row: $boot boots: $((failures - before)) check(s) failed"
  fi
}

rows=0 header=() lines=() pending="" next_pending=""
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    '# pending: '*) next_pending=${line#\# pending: } ;;
    '#'* | '') continue ;;
    '== '*)
      [ ${#header[@]} = 0 ] || [ "${header[0]}" != "$group" ] || run_row "${header[@]}"
      read -ra header <<<"${line:3}"
      lines=() pending=$next_pending next_pending=""
      if [ "${header[0]}" = "$group" ] && { [ -z "$only" ] || [ "${header[1]}" = "$only" ]; }; then
        rows=$((rows + 1))
      fi
      ;;
    *) lines+=("$line") ;;
  esac
done <"$here/field_faults.txt"
[ ${#header[@]} = 0 ] || [ "${header[0]}" != "$group" ] || run_row "${header[@]}"
[ $rows -gt 0 ] || fail "no row $1"

end_device_test "field faults $group"
