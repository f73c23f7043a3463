#!/usr/bin/env bash
# The stored times of a real migration in the device sandbox, whose zone
# (/etc/localtime) is Europe/Berlin: the controller's report crosses the end of
# daylight time on 25 Oct 2009 (01:00 UT, 03:00 -> 02:00 local), so the hour
# from 02:00 to 03:00 appears twice, once before and once after a winter time.
# Every history takes record i's time from the report, every live record the
# time of the controller's item record; each must hold the instants below,
# written from `zdump -v Europe/Berlin` (a time shown twice is the earlier
# instant, a skipped time takes the offset before the change), whatever was
# converted before it; and the same wherever the device keeps that zone (the
# rows at the end: /etc/localtime, a POSIX rule in /etc/TZ as uClibc-based
# devices keep it, or TZ), with the zone the log names.
#
#   zone_test.sh TOOL INSPECT    INSPECT: a sav3-inspect that runs here
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine, or no inspector).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sandbox=$here/../../scripts/sandbox.sh
tool=${1:?usage: zone_test.sh TOOL INSPECT}
inspect=${2:?usage: zone_test.sh TOOL INSPECT}
[ -x "$inspect" ] || {
  echo "SKIP: no record inspector at $inspect (build the host preset first)"
  exit 77
}
"$sandbox" check || exit $?

scratch=$(mktemp -d /tmp/sav3-zone-test.XXXXXX)
failures=0
trap 'if [ "$failures" -eq 0 ] && [ "${SAV3_KEEP_SANDBOX:-0}" != 1 ]; then rm -rf "$scratch"; else echo "scratch kept in $scratch"; fi' EXIT
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Report record i: text, expected seconds (UT in the comment).
report_texts=(
  "Sat Oct 24 2009 23:30:00" # 21:30:00 UT, summer time
  "Sun Oct 25 2009 02:30:00" # 00:30:00 UT, the earlier of the two
  "Sun Oct 25 2009 03:30:00" # 02:30:00 UT, winter time
  "Sun Oct 25 2009 02:30:00" # after a winter time: still 00:30:00 UT
  "Sun Oct 25 2009 02:00:00" # 00:00:00 UT
  "Sun Nov 01 2009 12:00:00" # 11:00:00 UT
  "Sun Mar 29 2009 02:30:00" # skipped: 01:30:00 UT, the offset before the change
)
report_seconds=(1256419800 1256430600 1256437800 1256430600 1256428800 1257073200 1238290200)
item_text="Sun Oct 25 2009 02:15:00" # 00:15:00 UT
item_seconds=1256429700

legacy=$scratch/legacy
"$here/sample_legacy.sh" "$legacy"
report=$legacy/usr/sav/data/MCUDataItemReport1.txt
record_size=248
head -c $((record_size * 1000)) /dev/zero >"$report"
for i in "${!report_texts[@]}"; do
  printf '%s\0' "${report_texts[$i]}" | dd of="$report" bs=1 seek=$((record_size * i)) conv=notrunc status=none
done
printf '%s\0' "$item_text" | dd of="$legacy/mnt/1/cfg/MCUDataItemTmp_1.txt" bs=1 seek=0 conv=notrunc status=none


# times FILE RECORD: the raw seconds of every time field of one record.
times() {
  "$inspect" --json --record "$2" "$1" | { grep -o '"type":"time","raw":-\{0,1\}[0-9]*' || true; } |
    sed 's/.*://' | tr '\n' ' '
}

# check_times BOX: every stored time of the migration in BOX.
check_times() {
staging=$1/usr/sav3
checked=0
# Every history and live file the migration wrote, from its table of output
# files (sav3-inspect --outputs: device path, %d for the port, first). The
# sub-records of a history carry no time of their own.
while read -r path _; do
  for port in 1 2 3 4; do
    # shellcheck disable=SC2059 # the table's path is the format
    printf -v device_path "$path" "$port"
    file=${device_path#/usr/sav3/}
    [ -f "$staging/$file" ] || continue
    case $file in
      history/*)
        for i in "${!report_seconds[@]}"; do
          got=$(times "$staging/$file" "$i")
          if [ -z "$got" ]; then
            case $file in history/subport*) continue 2 ;; esac
            fail "$file record $i: no time field"
          fi
          for t in $got; do
            [ "$t" = "${report_seconds[$i]}" ] ||
              fail "$file record $i (\"${report_texts[$i]}\"): $t, not ${report_seconds[$i]}"
          done
          checked=$((checked + 1))
        done
        ;;
      data/*)
        for t in $(times "$staging/$file" 0); do
          [ "$t" = "$item_seconds" ] || fail "$file (\"$item_text\"): $t, not $item_seconds"
          checked=$((checked + 1))
        done
        ;;
    esac
    [[ $path == *%d ]] || break # a fixed file: once
  done
done < <("$inspect" --outputs | awk '!seen[$1]++')
[ "$checked" -ge 30 ] || fail "only $checked times checked"
echo "$checked stored times checked"
}

# Where the device keeps its zone | the zone line the run logs.
rows=0
while IFS='|' read -r where line; do
  rows=$((rows + 1))
  box=$scratch/device$rows
  "$sandbox" create "$box" "$tool" "$legacy"
  options=()
  case $where in
    /etc/localtime) ;; # the sandbox's: Europe/Berlin
    /etc/TZ=*) rm "$box/etc/localtime" && echo "${where#/etc/TZ=}" >"$box/etc/TZ" ;;
    TZ=*) options=(--env "$where") ;;
  esac
  "$sandbox" run "${options[@]}" "$box"
  [ "$(cat "$box/sandbox/tool.status")" = 0 ] || fail "$where: exit status $(cat "$box/sandbox/tool.status")"
  grep -qxF "user.notice $line" "$box/sandbox/tool.log" || fail "$where: no log line '$line'"
  ! grep -q 'times read as UTC' "$box/sandbox/tool.log" || fail "$where: read as UTC"
  echo "$where:"
  check_times "$box"
done <<'ROWS'
/etc/localtime|times read in zone /etc/localtime
/etc/TZ=CET-1CEST,M3.5.0,M10.5.0/3|times read in zone /etc/TZ=CET-1CEST,M3.5.0,M10.5.0/3
TZ=CET-1CEST,M3.5.0,M10.5.0/3|times read in zone TZ=CET-1CEST,M3.5.0,M10.5.0/3
ROWS
[ "$rows" = 3 ] || fail "$rows zone rows"
[ "$failures" -eq 0 ]
