#!/usr/bin/env bash
# The benchmark of a full-device migration (./run bench builds what it needs and
# calls this). On the sample device of `sav3-sample --seed 1` (LQ, ZRT, K3, K3
# on ports 1..4, full 1000-record reports) it measures, in one run:
#   1. the 16 conversions in-process against a scratch copy of the device,
#      beside the two floors (sav3-bench: system calls only; the same bytes
#      through user space), median of RUNS runs, each from a fresh staging
#      tree;
#   2. the same two as instruction counts (callgrind, only inside the timed
#      functions);
#   3. peak resident memory of a whole tool run in the device sandbox;
#   4. open and read calls per legacy file during the conversions (strace),
#      against the number of converters that read each file;
#   5. the stripped size of the static ARM tool.
# The tool itself runs only in the device sandbox; sav3-bench calls the
# conversion functions on the scratch copy, never the shell commands.
#
#   bench.sh HOST_BUILD ARM_BUILD WORK [RUNS]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
host=$(cd "$1" && pwd)
arm=$(cd "$2" && pwd)
work=$3
runs=${4:-11}

bench=$host/bin/sav3-bench
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
device=$work/device # the scratch copy the conversions run against
"$host/bin/sav3-sample" --seed 1 "$work/legacy" >/dev/null
mkdir -p "$device"
cp -a "$work/legacy/." "$device/"
mkdir -p "$device/usr/sav3"

# The tool takes its zone from /etc/localtime, TZ unset, as on the device.
run_bench() { env -u TZ "$bench" "$@"; }

# 4 first: the trace gives the floor's files and byte counts.
run_bench reset "$device"
strace -f -e trace=openat,read,write -s 0 -o "$work/trace" "$bench" convert "$device"
awk -v root="$device" -v plan="$work/plan" -f "$here/trace_files.awk" "$work/trace" >"$work/files"

# 1
run_bench time "$device" "$work/plan" "$runs" >"$work/time"
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/time"; }

# 2
instructions() { # FUNCTION MODE ARGS...: instructions executed inside FUNCTION
  local fn=$1 mode=$2
  shift 2
  run_bench reset "$device"
  env -u TZ valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.$mode" \
    --toggle-collect="*$fn*" "$bench" "$mode" "$device" "$@" 2>&1 |
    awk '/Collected :/ { print $NF }'
}
conv_ir=$(instructions sav3_bench_conversions convert)
floor_ir=$(instructions sav3_bench_floor floor "$work/plan")
user_ir=$(instructions sav3_bench_floor_user floor-user "$work/plan")

# 3
box=$work/box
"$top/scripts/sandbox.sh" create "$box" "$host/bin/sav3-migrate" "$work/legacy"
SAV3_SANDBOX_TIME=1 "$top/scripts/sandbox.sh" run "$box"
peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$box/sandbox/tool.time")
tool_status=$(cat "$box/sandbox/tool.status")
# The last command of the run starts after every conversion: the tool's VmHWM
# then is its peak.
tool_peak_kb=$(awk '{ if ($2 > m) m = $2 } END { print m }' "$box/sandbox/tool.hwm")

# 5
arm-linux-gnueabihf-strip -o "$work/sav3-migrate.arm.stripped" "$arm/bin/sav3-migrate"
arm_bytes=$(stat -c %s "$work/sav3-migrate.arm.stripped")

# Expected opens per legacy file: how many converter calls of this device's run
# read it (tools/bench/expected_opens.txt).
opens_table=$work/opens
worst=ok
: >"$opens_table"
while read -r path expected _; do
  case $path in '#'* | '') continue ;; esac
  read -r opens failed reads bytes < <(awk -v p="$path" '$1 == p { print $2, $3, $4, $5 }' "$work/files") ||
    { opens=0 failed=0 reads=0 bytes=0; }
  mark=""
  if [ "$((opens + failed))" -gt "$expected" ]; then
    mark=" MORE THAN EXPECTED"
    worst=missed
  elif [ "$((opens + failed))" -lt "$expected" ]; then mark=" (fewer than expected)"; fi
  printf '| `%s` | %d | %d | %d | %d |%s\n' "$path" "$expected" "$((opens + failed))" "$reads" "$bytes" "$mark" >>"$opens_table"
done <"$here/expected_opens.txt"
# Every legacy file the trace shows must be in the expected list.
while read -r path _; do
  case $path in /usr/sav3/* | /etc/*) continue ;; esac
  if ! awk -v p="$path" '$1 == p { found = 1 } END { exit !found }' "$here/expected_opens.txt"; then
    printf '| `%s` | (not listed) | %s |\n' "$path" "$(awk -v p="$path" '$1 == p { print $2 + $3 }' "$work/files")" >>"$opens_table"
    worst=missed
  fi
done <"$work/files"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
goal() { if awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; then echo met; else echo "missed"; fi; }
conv_ms=$(value conversions_ms)
floor_ms=$(value floor_ms)
user_ms=$(value floor_user_ms)
in_files=$(awk '$1 == "in"' "$work/plan" | wc -l)
in_bytes=$(awk '$1 == "in" { s += $3 } END { print s }' "$work/plan")
out_files=$(awk '$1 == "out"' "$work/plan" | wc -l)
out_bytes=$(awk '$1 == "out" { s += $3 } END { print s }' "$work/plan")

cat <<EOF
Full sample device (sav3-sample --seed 1: LQ, ZRT, K3, K3 on ports 1..4, 1000-record reports).
System-call floor: $in_files legacy files read once each ($in_bytes bytes, one open/read/close each),
$out_files files written ($out_bytes bytes, one open/write/close each).
User-space floor: the same files read once through the plain reader, every byte looked at; every
output byte built once and written with its header and checksums by the container's writer.

| Measure | Conversions | System-call floor | Ratio | User-space floor | Ratio | Goal |
|---|---|---|---|---|---|---|
| Time, median of $runs runs (ms) | $conv_ms | $floor_ms | $(ratio "$conv_ms" "$floor_ms") | $user_ms | $(ratio "$conv_ms" "$user_ms") | within 4x of the system-call floor: $(goal "$conv_ms" "$(awk -v f="$floor_ms" 'BEGIN { print 4 * f }')") |
| Instructions (callgrind) | $conv_ir | $floor_ir | $(ratio "$conv_ir" "$floor_ir") | $user_ir | $(ratio "$conv_ir" "$user_ir") | at most 20,000,000: $(goal "$conv_ir" 20000000) |

| Measure | Value | Goal |
|---|---|---|
| Peak resident memory of the tool process, whole run in the sandbox (KB) | $tool_peak_kb (exit status $tool_status) | under 4096: $(goal "$tool_peak_kb" 4095) |
| Peak resident memory, largest of the tool and of the busybox commands it starts (KB) | $peak_kb | under 4096: $(goal "$peak_kb" 4095) |
| Legacy files opened more often than the converters that read them | $(grep -c 'MORE THAN\|not listed' "$opens_table" || true) | none: $worst |
| Static ARM tool, stripped (bytes) | $arm_bytes | under 614400: $(goal "$arm_bytes" 614399) |

Opens and reads per legacy file during the conversions (strace):

| Legacy file | Converters reading it | Opens | read calls | Bytes read |
|---|---|---|---|---|
$(cat "$opens_table")
EOF
