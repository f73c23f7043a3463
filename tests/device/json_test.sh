#!/usr/bin/env bash
# Every JSON output of the tools, made on the sample device in the device
# sandbox (--status in three states: no state file, kept, done) and checked
# against the one vocabulary (docs/json.md, the table in
# tools/json_check.cpp): each object starts with "tool" and "format" and
# holds only members of the vocabulary, each of one of its types.
#
#   json_test.sh TOOL INSPECT SAMPLE_GENERATOR CHECKER
#       CHECKER: sav3-fleet-test-tool (its json-lines is the schema check)
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tool=${1:?usage: json_test.sh TOOL INSPECT SAMPLE_GENERATOR CHECKER}
inspect=${2:?usage: json_test.sh TOOL INSPECT SAMPLE_GENERATOR CHECKER}
generator=${3:?usage: json_test.sh TOOL INSPECT SAMPLE_GENERATOR CHECKER}
checker=${4:?usage: json_test.sh TOOL INSPECT SAMPLE_GENERATOR CHECKER}
# shellcheck source=testlib.sh
. "$here/testlib.sh"
begin_device_test "$tool"

# The sample device, its check before the run, the run, and a second tree
# that differs from the staging tree in a field and a file.
"$generator" "$scratch/sample" >/dev/null
"$sandbox" create "$scratch/device" "$tool" "$scratch/sample" >/dev/null
device=$scratch/device staging=$scratch/device/usr/sav3 other=$scratch/other
migrate() { # migrate ARG...: the tool's standard output in the sandbox
  local args=()
  for a in "$@"; do args+=(--arg "$a"); done
  "$sandbox" run "${args[@]}" "$device" >/dev/null && cat "$device/sandbox/tool.out"
}
# status_json NAME: --status --json now, kept as $scratch/status-NAME.json;
# its status is NAME and its exit the tool's.
status_json() {
  migrate --status --json >"$scratch/status-$1.json"
  grep -q "\"status\":\"$1\",\"exit\":$(cat "$device/sandbox/tool.status")," "$scratch/status-$1.json" ||
    fail "--status --json in state $1 (exit $(cat "$device/sandbox/tool.status")): $(cat "$scratch/status-$1.json")"
}
status_json none
migrate --check --json >"$scratch/check.json"
# A run that keeps the old data (a read-only /usr/sav), then one that ends done.
"$sandbox" run --read-only /usr/sav "$device" >/dev/null
status_json kept
migrate >/dev/null
status_json "done"
cp -a "$staging" "$other"
rm "$other/data/port4"
"$checker" set-field "$other/cfg/port0" "range low" 4242
# After the run: the before-image that --rollback would put back.
undo_outputs() { migrate --check --json && migrate --status --json; }
rehearsal() {
  "$here/../../tools/rehearse.sh" --rollback --json "$scratch/rehearsal.json" "$tool" "$inspect" "$scratch/sample" >/dev/null || true
  cat "$scratch/rehearsal.json"
}

# One line per JSON output: its name | the command that prints it (JSON
# Lines on standard output). A new output is one more line here.
outputs=(
  "sav3-migrate --check --json|cat $scratch/check.json"
  "sav3-migrate --status --json, no state file|cat $scratch/status-none.json"
  "sav3-migrate --status --json, kept|cat $scratch/status-kept.json"
  "sav3-migrate --status --json, done|cat $scratch/status-done.json"
  "sav3-inspect --json FILE...|$inspect --json $staging/cfg/port0 $staging/history/port1 $staging/cfg/email $scratch/sample/mnt/1/cfg/ipcfg $scratch/none"
  "sav3-inspect --tree --json DIR|$inspect --tree --json $staging"
  "sav3-inspect --json --diff A B|$inspect --json --diff $staging $other"
  "sav3-inspect --json --diff FILE FILE|$inspect --json --diff $staging/cfg/port0 $other/cfg/port0"
  "rehearse.sh --rollback --json FILE|rehearsal"
  "sav3-migrate --check --json --status --json, a before-image|undo_outputs"
)
for output in "${outputs[@]}"; do
  name=${output%%|*} command=${output#*|}
  # Word splitting of the command is meant: the paths hold no blanks.
  # shellcheck disable=SC2086
  $command >"$scratch/out.jsonl" 2>"$scratch/err" || true
  [ -s "$scratch/out.jsonl" ] || {
    fail "$name: printed nothing ($(head -c 200 "$scratch/err"))"
    continue
  }
  "$checker" json-lines "$scratch/out.jsonl" || fail "$name: does not follow the vocabulary: $(head -c 300 "$scratch/out.jsonl")"
done
end_device_test "every JSON output follows the vocabulary"
