#!/usr/bin/env bash
# Rehearses many device backups at once: one rehearsal (rehearse.sh) per
# backup, in parallel, each in its own device sandbox; the usage text
# (tools/rehearse_options.sh, --help) says how and what comes out.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rehearse=$here/rehearse.sh
# shellcheck source=scripts/packages.sh
. "$here/../scripts/packages.sh"

# fleet.sh --job OPTION... TOOL INSPECT BACKUP is one job of a batch (GNU
# parallel calls this script back), not an option of its users.
job=no
if [ "${1:-}" = --job ]; then
  job=yes
  shift
fi
# shellcheck source=tools/rehearse_options.sh
. "$here/rehearse_options.sh"
rehearse_parse fleet.sh "any batch" "$@"
[ ${#rehearse_args[@]} -ge 2 ] || rehearse_refuse "wants TOOL INSPECT [BACKUP...], given: ${rehearse_args[*]:-nothing}"
tool=${rehearse_args[0]} inspect=${rehearse_args[1]}
jobs=${rehearse_jobs:-$(nproc)} out=${rehearse_out:-build/rehearsals} baseline=$rehearse_baseline keep=$rehearse_keep
backups=()
for dir in "${rehearse_all[@]}"; do
  [ -d "$dir" ] || rehearse_refuse "--all: no folder $dir"
  while IFS= read -r -d '' entry; do backups+=("$entry"); done < <(find "$dir" -mindepth 1 -maxdepth 1 \
    \( \( -type d \( -exec test -d {}/usr \; -o -exec test -d {}/mnt \; \) \) -o \
    \( -type f \( -name '*.tar' -o -name '*.tar.gz' -o -name '*.tgz' \) \) \) -print0 | sort -z)
done
backups+=("${rehearse_args[@]:2}")

# The outcome of a backup whose rehearsal wrote none ($path, $reason), in the
# vocabulary of docs/json.md.
failed_outcome='{tool: {name: "sav3-rehearse", version: null}, format: 1, path: $path, verdict: "failed",
  state: null, reason: $reason, replaced: false, zone: null, exit: null, commands: [], seconds: 0, log: [],
  check: null}'

# An outcome with the backup's name ($name) after its tool and format.
named='{tool: .tool, format: .format, name: $name} + .'

# The name of a backup's report: the last part of its path.
name_of() {
  local name=${1%/}
  echo "${name##*/}"
}

# ---------------------------------------------------------------------------
# One backup (a job of the batch): its rehearsal with TOOL (and OTHER_TOOL),
# the report and the JSON object written under temporary names, then renamed,
# the report last: a report that exists is a finished backup.
run_job() {
  local backup=$1 name reports=$out/reports work status=0
  name=$(name_of "$backup")
  umask 077
  work=$(mktemp -d "${TMPDIR:-/tmp}/sav3-fleet.XXXXXX")
  # Gone however the job ends (the sandboxes' mounts went with them); the
  # name is put in now, since `work` is local.
  # shellcheck disable=SC2064
  [ $keep = yes ] || trap "rm -rf --one-file-system $(printf %q "$work")" EXIT
  rehearse_pass any
  local options=("${rehearse_passed[@]}")
  TMPDIR=$work "$rehearse" "${options[@]}" --into "$work/tool" --json "$work/tool.json" \
    -- "$tool" "$inspect" "$backup" >"$work/report" 2>&1 || status=$?
  # An outcome even when the rehearsal itself ended unexpectedly.
  [ -s "$work/tool.json" ] || jq -n -c -a --arg path "$backup" --arg reason \
    "the rehearsal ended with status $status: $(tail -n 1 "$work/report")" \
    "$failed_outcome" >"$work/tool.json"
  if [ -n "$baseline" ]; then
    compare_with_baseline "$backup" "$work" "${options[@]}"
  else
    jq -c -a --arg name "$name" "$named" "$work/tool.json" >"$work/outcome.json"
  fi
  if [ $keep = yes ]; then
    echo "sandboxes and working copies kept in $work (they hold the backup's credentials: remove them when done)" \
      >>"$work/report"
  fi
  mv "$work/outcome.json" "$reports/$name.json.new"
  cp "$work/report" "$reports/$name.txt.new"
  mv "$reports/$name.json.new" "$reports/$name.json"
  mv "$reports/$name.txt.new" "$reports/$name.txt"
  jq -r .verdict "$reports/$name.json" >>"$out/progress"
}

# compare_with_baseline BACKUP WORK [OPTION...]: the same rehearsal with
# OTHER_TOOL, and what `sav3-inspect --diff` says between the two staging
# trees, added to the report and to the outcome.
compare_with_baseline() {
  local backup=$1 work=$2 name status=0
  shift 2
  name=$(name_of "$backup")
  printf '\n\n== the same backup with the baseline %s\n' "$baseline" >>"$work/report"
  TMPDIR=$work "$rehearse" "$@" --into "$work/baseline" --json "$work/baseline.json" \
    -- "$baseline" "$inspect" "$backup" >>"$work/report" 2>&1 || true
  [ -s "$work/baseline.json" ] || jq -n -c --arg path "$backup" --arg reason "no outcome" "$failed_outcome" \
    >"$work/baseline.json"
  printf '\n== what differs between the two staging trees (sav3-inspect --diff TOOL BASELINE)\n' >>"$work/report"
  if [ -d "$work/tool/usr/sav3" ] && [ -d "$work/baseline/usr/sav3" ]; then
    "$inspect" --diff "$work/tool/usr/sav3" "$work/baseline/usr/sav3" >>"$work/report" 2>&1 || status=$?
    "$inspect" --diff --json "$work/tool/usr/sav3" "$work/baseline/usr/sav3" >"$work/diff.jsonl" 2>/dev/null || true
    jq -e . "$work/diff.jsonl" >/dev/null 2>&1 || { status=2 && : >"$work/diff.jsonl"; }
  else
    echo "not compared: a rehearsal made no staging tree" >>"$work/report"
    status=2
    : >"$work/diff.jsonl"
  fi
  # A line of --diff --json per file that is not the same (its path, status
  # and the fields that differ), then a summary line without a status. A is the
  # tool's tree, B the baseline's.
  jq -c -a -n --arg name "$name" --arg baseline "$baseline" --argjson status "$status" \
    --slurpfile tool "$work/tool.json" --slurpfile other "$work/baseline.json" \
    --slurpfile diff "$work/diff.jsonl" '
    def differences: select(type == "object" and has("status")) | . as $file |
      if (($file.fields // []) | length) > 0 then $file.fields[] | "\($file.path): \(.name)"
      else "\($file.path): \({"only in A": "only with the tool", "only in B": "only with the baseline"}[$file.status] // $file.status)" end;
    ($tool[0] | '"$named"') + {baseline: {path: $baseline, verdict: $other[0].verdict, state: $other[0].state,
      outputs: (if $status == 0 then "same" elif $status == 1 then "different" else "not compared" end),
      differences: ([$diff[] | differences] | unique)}}' >"$work/outcome.json"
}

if [ $job = yes ]; then
  [ ${#backups[@]} -eq 1 ] || rehearse_refuse "--job wants one BACKUP"
  run_job "${backups[0]}"
  exit 0
fi

# ---------------------------------------------------------------------------
# The batch.
[ ${#backups[@]} -gt 0 ] || { echo "fleet.sh: no backups to rehearse" >&2 && exit 2; }
[ -f "$tool" ] || { echo "fleet.sh: no tool at $tool" >&2 && exit 2; }
[ -z "$baseline" ] || [ -f "$baseline" ] || { echo "fleet.sh: no baseline tool at $baseline" >&2 && exit 2; }
duplicates=$(for b in "${backups[@]}"; do name_of "$b"; done | sort | uniq -d | head -n 5 | tr '\n' ' ')
[ -z "$duplicates" ] || { echo "fleet.sh: two backups have the same name (their reports would collide): $duplicates" >&2 && exit 2; }
ensure_packages "${fleet_packages[@]}" || { echo "fleet.sh: GNU parallel and jq are needed" >&2 && exit 2; }
# The reports name the devices' files and carry their log lines: private.
umask 077
mkdir -p "$out/reports"
chmod 700 "$out"
rm -f "$out"/reports/*.new

list=$out/todo
: >"$list"
earlier=0
for b in "${backups[@]}"; do
  if [ -f "$out/reports/$(name_of "$b").txt" ]; then
    earlier=$((earlier + 1))
  else
    printf '%s\0' "$b" >>"$list"
  fi
done
todo=$((${#backups[@]} - earlier))
: >"$out/progress"
start=$SECONDS

# progress: one line, rewritten in place on a terminal; else a line whenever a
# backup finishes.
progress() {
  local finished failed left="" line seconds
  finished=$(wc -l <"$out/progress")
  failed=$(grep -cv '^done$' "$out/progress" || true)
  if [ "$finished" -gt 0 ] && [ "$finished" -lt "$todo" ]; then
    seconds=$(((SECONDS - start) * (todo - finished) / finished + 1))
    [ $seconds -lt 120 ] && left=", about $seconds s left" || left=", about $((seconds / 60 + 1)) min left"
  fi
  line="rehearsed $finished of $todo: $((finished - failed)) done, $failed not done, $((todo - finished)) remaining$left"
  if [ -t 2 ]; then
    printf '\r%s\033[K' "$line" >&2
  elif [ "$finished" != "${shown:-}" ]; then
    echo "$line" >&2
  fi
  shown=$finished
}

if [ $todo -gt 0 ]; then
  echo "rehearsing $todo backups ($earlier finished earlier) with $jobs jobs; reports in $out/reports" >&2
  # Each job gets the options of every rehearsal and the baseline.
  rehearse_pass any
  pass=("${rehearse_passed[@]}")
  [ -z "$baseline" ] || pass+=(--baseline "$baseline")
  parallel --will-cite --jobs "$jobs" -0 --arg-file "$list" -q \
    "${BASH_SOURCE[0]}" --job "${pass[@]}" --out "$out" -- "$tool" "$inspect" {} >"$out/parallel.log" 2>&1 &
  runner=$!
  while kill -0 $runner 2>/dev/null; do
    progress
    sleep 1
  done
  wait $runner || echo "fleet.sh: the job runner ended with status $? (see $out/parallel.log)" >&2
  progress
  [ ! -t 2 ] || echo >&2
fi

# The JSON Lines, in the order of the backups; a backup without an outcome
# (its job was killed) is a failed line.
jsonl=$out/rehearsals.jsonl
: >"$jsonl.new"
for b in "${backups[@]}"; do
  name=$(name_of "$b")
  if [ -s "$out/reports/$name.json" ]; then
    cat "$out/reports/$name.json" >>"$jsonl.new"
  else
    jq -n -c -a --arg name "$name" --arg path "$b" --arg reason "no outcome: its rehearsal did not finish" \
      "$failed_outcome | $named" >>"$jsonl.new"
  fi
done
mv "$jsonl.new" "$jsonl"

jq -r -s --arg out "$out" --arg baseline "$baseline" --argjson earlier "$earlier" --argjson jobs "$jobs" \
  --argjson elapsed $((SECONDS - start)) '
  def rpad($n): tostring | . + ([range([$n - length, 0] | max)] | map(" ") | join(""));
  def lpad($n): tostring | ([range([$n - length, 0] | max)] | map(" ") | join("")) + .;
  def counts(f): group_by(f) | map([length, (.[0] | f)]) | sort_by(-.[0]);
  . as $all
  | "Rehearsal of \(length) backups in \($out) (\(length - $earlier) now with \($jobs) jobs in \($elapsed) s, \($earlier) finished earlier)",
    "",
    "Verdicts",
    (counts(.verdict)[] | "  \(.[1] | rpad(10)) \(.[0] | lpad(5))"),
    "",
    "Reasons (kept, pending, abandoned, failed)",
    (if any(.[]; .verdict != "done") then
       (map(select(.verdict != "done")) | counts([.verdict, .reason]))[] |
         "  \(.[1][0] | rpad(10)) \(.[0] | lpad(5))  \(.[1][1] | if . == "" then "(no reason given)" else . end)"
     else "  none" end),
    "",
    "Zones: \(map(select(.zone.source == "fallback")) | length) backups held no zone of their own and were read in the fallback zone",
    (if any(.[]; .undo != null) then
       "",
       "Undo (sav3-migrate --rollback after the migration): \(map(select(.undo.exact == true)) | length) of \(map(select(.undo != null)) | length) devices as they were before it",
       (.[] | select(.undo != null and .undo.exact != true) | "  \(.path): \(.undo.differences[0] // "exit \(.undo.exit)")")
     else empty end),
    "",
    "Slowest",
    (sort_by(-.seconds) | .[:5][] | "  \(.seconds * 10 | round / 10 | lpad(6)) s  \(.path) (\(.verdict))"),
    "",
    "Failures (pending, abandoned or failed), with their first log line",
    (if any(.[]; .verdict != "done" and .verdict != "kept") then
       (.[] | select(.verdict != "done" and .verdict != "kept") |
         "  \(.path): \(.verdict): \(if (.log | length) > 0 then .log[0] else .reason end)")
     else "  none" end),
    (if $baseline == "" then empty else
       "",
       "Compared with the baseline \($baseline) (sav3-inspect --diff of the two staging trees)",
       (counts(.baseline.outputs)[] | "  \(.[1] | rpad(14)) \(.[0] | lpad(5)) devices"),
       (if any(.[]; (.baseline.differences | length) > 0) then
          "  devices per field that differs:",
          ([.[] | .baseline.differences | unique[]] | group_by(.) | map([length, .[0]]) | sort_by(-.[0])[] |
            "  \(.[0] | lpad(5))  \(.[1])")
        else empty end)
     end),
    "",
    "What a rehearsal cannot see: links, mounts and read-only trees on the device (a",
    "backup holds files and folders only), the device'\''s own room on its file systems,",
    "and read errors of its medium. Run `sav3-migrate --check` on the device before the",
    "upgrade.",
    "",
    "Reports: \($out)/reports/NAME.txt; one JSON object per backup: \($out)/rehearsals.jsonl"
' "$jsonl" >"$out/summary.txt.new"
mv "$out/summary.txt.new" "$out/summary.txt"
rm -f "$list" "$out/progress"
[ -s "$out/parallel.log" ] || rm -f "$out/parallel.log"
cat "$out/summary.txt"
[ "$(jq -s 'all(.[]; .verdict == "done")' "$jsonl")" = true ]
