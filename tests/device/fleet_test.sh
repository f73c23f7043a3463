#!/usr/bin/env bash
# A batch of device backups rehearsed in parallel (tools/fleet.sh) with the
# host tool: generated devices as folders and as an archive, one whose live
# migration was abandoned earlier (the tool changes nothing) and one whose
# archive is cut short (it cannot be read: one failed line, the batch goes
# on). The summary counts, the strict JSON Lines, the resume from the finished
# reports, and the comparison with a baseline tool: the test's own variant of
# the tool, which stores another value in one field, and the tool itself.
#
#   fleet_test.sh TOOL INSPECT SAMPLE_GENERATOR TEST_TOOL
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fleet=$here/../../tools/fleet.sh
tool=${1:?usage: fleet_test.sh TOOL INSPECT SAMPLE_GENERATOR TEST_TOOL}
inspect=${2:?usage: fleet_test.sh TOOL INSPECT SAMPLE_GENERATOR TEST_TOOL}
generator=${3:?usage: fleet_test.sh TOOL INSPECT SAMPLE_GENERATOR TEST_TOOL}
test_tool=${4:?usage: fleet_test.sh TOOL INSPECT SAMPLE_GENERATOR TEST_TOOL}
# shellcheck source=testlib.sh
. "$here/testlib.sh"
begin_device_test "$tool"
# shellcheck source=../../scripts/packages.sh
. "$here/../../scripts/packages.sh"
ensure_packages "${fleet_packages[@]}" || {
  echo "GNU parallel and jq are needed (./run test installs them)"
  exit 1
}

b=$scratch/backups out=$scratch/out
mkdir -p "$b" "$scratch/tmp" "$scratch/made"
export TMPDIR=$scratch/tmp

# BACKUP | seed | how it is made | verdict | its reason (or first log line)
backups=(
  "seed1|1|folder|done|"
  "seed2|2|zoned|done|"
  "seed3.tar.gz|3|archive|done|"
  "abandoned|4|abandoned|abandoned|after 3 attempts"
  "cut.tar.gz|5|cut|failed|cannot read the archive: gzip: stdin: unexpected end of file"
)
for row in "${backups[@]}"; do
  IFS='|' read -r name seed how _ <<<"$row"
  made=$scratch/made/$name
  "$generator" --seed "$seed" "$made"
  case $how in
    folder) mv "$made" "$b/$name" ;;
    zoned) mv "$made" "$b/$name" && echo America/New_York >"$b/$name/zone" ;;
    archive) tar -czf "$b/$name" -C "$made" . ;;
    abandoned) mkdir -p "$made/usr/sav3" && echo "abandoned after 3 attempts" >"$made/usr/sav3/.migration" &&
      mv "$made" "$b/$name" ;;
    cut) tar -czf "$scratch/made/whole.tar.gz" -C "$made" . && head -c 4000 "$scratch/made/whole.tar.gz" >"$b/$name" ;;
  esac
done
before=$(cd "$b" && find . -type f -exec sha256sum {} + | sort)

status=0
"$fleet" --jobs 2 --out "$out" --all "$b" "$tool" "$inspect" >"$scratch/summary" 2>"$scratch/progress" || status=$?
[ $status = 1 ] || fail "the batch's status is $status, not 1 (some backups not done)"
"$test_tool" json-lines "$out/rehearsals.jsonl" || fail "rehearsals.jsonl is not strict JSON Lines"
[ "$(wc -l <"$out/rehearsals.jsonl")" = ${#backups[@]} ] || fail "not one JSON line per backup"
grep -q "rehearsed ${#backups[@]} of ${#backups[@]}" "$scratch/progress" || fail "no final progress line"
for row in "${backups[@]}"; do
  IFS='|' read -r name _ _ verdict reason <<<"$row"
  got=$(jq -r --arg n "$name" 'select(.name == $n) | [.verdict, .reason] | join("|")' "$out/rehearsals.jsonl")
  [ "$got" = "$verdict|$reason" ] || fail "$name: verdict and reason \"$got\", not \"$verdict|$reason\""
  [ -s "$out/reports/$name.txt" ] || fail "$name: no report"
done
[ "$(jq -r 'select(.name == "seed2") | .zone.name' "$out/rehearsals.jsonl")" = America/New_York ] ||
  fail "the zone file inside a backup is not taken"
jq -e --argjson all "$command_count" 'select(.verdict == "done") | .replaced and .exit == 0 and
  (.commands | length) == $all and (.log | length) > 0' "$out/rehearsals.jsonl" >/dev/null ||
  fail "a done backup's outcome lacks its facts"
# The check asked before each run foretold it: "replace" for a backup that
# ends done, "nothing" for one abandoned earlier.
jq -s -e 'map(select(.verdict == "done" or .verdict == "abandoned") |
  .check.verdict == (if .verdict == "done" then "replace" else "nothing" end)) | length > 0 and all' \
  "$out/rehearsals.jsonl" >/dev/null || fail "the check asked first does not foretell the outcome"
# The summary: a count per verdict, as the table above says.
for verdict in "done" abandoned failed; do
  n=$(printf '%s\n' "${backups[@]}" | awk -F'|' -v v=$verdict '$4 == v' | wc -l)
  grep -Eq "^  $verdict +$n\$" "$scratch/summary" || fail "the summary does not count $n $verdict"
done
for line in 'abandoned: abandoned: user.notice abandoned earlier: nothing done' 'cut.tar.gz: failed: cannot read the archive'; do
  grep -Fq "$line" "$scratch/summary" || fail "the failure is not listed: $line"
done
grep -Fq 'sav3-migrate --check' "$scratch/summary" || fail "no pointer to the check on the device"
[ -z "$(ls -A "$scratch/tmp")" ] || fail "working copies were left: $(ls "$scratch/tmp")"
[ "$(stat -c %a "$out")" = 700 ] || fail "the reports are readable by others"

# Resumed: the finished backups are skipped, a deleted report is made again.
rm "$out/reports/seed1.txt"
touch -d @0 "$out"/reports/*.txt
"$fleet" --out "$out" --all "$b" "$tool" "$inspect" >"$scratch/summary" 2>&1 || true
grep -q "(1 now with [0-9]* jobs in [0-9]* s, 4 finished earlier)" "$scratch/summary" ||
  fail "the second run did not rehearse only the backup without a report: $(head -n 1 "$scratch/summary")"
[ "$(find "$out/reports" -name '*.txt' -newermt @0 | sed 's|.*/||')" = seed1.txt ] ||
  fail "the second run wrote other reports than seed1's"
[ "$(wc -l <"$out/rehearsals.jsonl")" = ${#backups[@]} ] || fail "the resumed run's JSON Lines lack backups"

# Compared with a baseline: BASELINE | outputs | the fields that differ | backups
cp "$test_tool" "$scratch/made/sav3-migrate"
baselines=(
  "$scratch/made/sav3-migrate|different|cfg/port0: range low|seed1 seed3.tar.gz"
  "$tool|same||seed1"
)
for row in "${baselines[@]}"; do
  IFS="|" read -r baseline outputs fields list <<<"$row"
  read -ra names <<<"$list"
  rm -rf "$out"
  "$fleet" --out "$out" --baseline "$baseline" "$tool" "$inspect" "${names[@]/#/$b/}" \
    >"$scratch/summary" 2>&1 || fail "baseline $baseline: the batch failed"
  "$test_tool" json-lines "$out/rehearsals.jsonl" || fail "baseline $baseline: not strict JSON Lines"
  got=$(jq -r '[.baseline.outputs, (.baseline.differences | join(", "))] | join("|")' "$out/rehearsals.jsonl" |
    sort -u)
  [ "$got" = "$outputs|$fields" ] || fail "baseline $baseline: \"$got\", not \"$outputs|$fields\" on each device"
  n=${#names[@]}
  grep -Eq "^  $outputs +$n devices\$" "$scratch/summary" || fail "baseline $baseline: the summary does not count $n $outputs"
  [ -z "$fields" ] || grep -Eq "^ +$n  $fields\$" "$scratch/summary" || fail "baseline $baseline: not $n devices for $fields"
done

after=$(cd "$b" && find . -type f -exec sha256sum {} + | sort)
[ "$before" = "$after" ] || fail "a backup was modified"
end_device_test fleet
