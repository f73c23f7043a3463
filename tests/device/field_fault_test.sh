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
# before the boot when no command ran, and as they were before the first boot
# while the state is "kept" or absent. After the last boot: nothing outside
# the three trees changed apart from /mnt/2, and the row's own checks. Rows
# marked "host" need strace on the tool itself and are skipped for an ARM tool
# (strace sees qemu's calls there).
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/device/testlib.sh
. "$here/testlib.sh"
group=${1:?usage: field_fault_test.sh GROUP TOOL}
tool=${2:?usage: field_fault_test.sh GROUP TOOL}
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

state_line() { sed -n "${2}p" "$(device_path "$1" /usr/sav3)/.migration" 2>/dev/null || true; }

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
    find usr mnt bin etc sbin -type f -exec sha256sum {} + | LC_ALL=C sort -k2) 2>/dev/null || true
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

# boots ROW LINE: the boots of one "boot" line of the table.
boots() {
  local row=$1 root=$scratch/$1 fields words=() times=1 log=() entry state count box i
  IFS='|' read -ra fields <<<"$2"
  eval "words=(${fields[0]})"
  words=("${words[@]:1}")
  if [[ ${words[0]-} =~ ^x([0-9]+)$ ]]; then
    times=${BASH_REMATCH[1]}
    words=("${words[@]:1}")
  fi
  for i in "${!words[@]}"; do [ "${words[i]}" != --cut ] || words[i + 1]=$(cut_point "${words[i + 1]}"); done
  for entry in "${fields[@]:5}"; do
    case $(trim "$entry") in
      @full) log+=("user.notice full run" "user.notice times read in zone /etc/localtime") ;;
      @again) log+=("user.notice full run: the last run kept the live trees" "user.notice times read in zone /etc/localtime") ;;
      @replace) log+=("user.notice pending: replacing the live trees" "user.notice done") ;;
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
    check_first "$what" "$root" "$verdict" "${words[@]}"
    live_of "$root" >"$scratch/before"
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

# run_row GROUP NAME [host] END...: the row's lines are in `lines`.
run_row() {
  local row=$2 root=$scratch/$2 line checks=() boot=0 started=0 before=$failures
  shift 2
  if [ "${1-}" = host ]; then
    shift
    [ $arm = 0 ] || {
      echo "$row: host only"
      return 0
    }
  fi
  fresh "$row"
  for line in "${lines[@]}"; do
    case $line in
      '$ '*) (cd "$root" && eval "${line:2}") || fail "$row: setup failed: ${line:2}" ;;
      '? '*) checks+=("${line:2}") ;;
      retry*) retry "$row" "$line" ;;
      boot*)
        if [ $started = 0 ]; then
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
  for line in "${checks[@]}"; do
    (cd "$root" && eval "$line") >/dev/null 2>&1 || fail "$row: $line"
  done
  if [ "$failures" = "$before" ]; then
    echo "$row: $boot boots: pass"
  else
    echo "$row: $boot boots: $((failures - before)) check(s) failed"
  fi
}

rows=0 header=() lines=()
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    '#'* | '') continue ;;
    '== '*)
      [ ${#header[@]} = 0 ] || [ "${header[0]}" != "$group" ] || run_row "${header[@]}"
      read -ra header <<<"${line:3}"
      lines=()
      [ "${header[0]}" != "$group" ] || rows=$((rows + 1))
      ;;
    *) lines+=("$line") ;;
  esac
done <"$here/field_faults.txt"
[ ${#header[@]} = 0 ] || [ "${header[0]}" != "$group" ] || run_row "${header[@]}"
[ $rows -gt 0 ] || fail "no row in group $group"

end_device_test "field faults $group"
