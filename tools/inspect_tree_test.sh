#!/usr/bin/env bash
# The inspector on a real migration: the sample device migrated in the device
# sandbox passes `sav3-inspect --tree`, every file it wrote decodes cleanly,
# and the tree with one file removed fails, naming that file.
#
#   inspect_tree_test.sh MIGRATE SAMPLE INSPECT
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail

migrate=${1:?usage: inspect_tree_test.sh MIGRATE SAMPLE INSPECT}
sample=${2:?usage: inspect_tree_test.sh MIGRATE SAMPLE INSPECT}
inspect=${3:?usage: inspect_tree_test.sh MIGRATE SAMPLE INSPECT}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/device" && pwd)
# shellcheck source=../tests/device/testlib.sh
. "$here/testlib.sh"
begin_device_test "$migrate"

"$sample" --seed 3 "$scratch/sample"
"$sandbox" create "$scratch/device" "$migrate" "$scratch/sample"
"$sandbox" run "$scratch/device"
staging=$scratch/device/usr/sav3

if ! "$inspect" --tree "$staging" >"$scratch/tree.out"; then
  fail "the migrated sample device does not pass --tree:"
  grep -v '^ok ' "$scratch/tree.out"
fi
grep -q '^verdict: PASS, 31 files checked, 0 failed$' "$scratch/tree.out" || fail "no PASS verdict for 31 files"

# Every file the tree check names decodes without a problem, as text and as
# JSON (the JSON's validity is checked by the unit tests and the fuzz harness).
for name in $(awk '$1 == "ok" { print $2 }' "$scratch/tree.out"); do
  "$inspect" "$staging/$name" >"$scratch/one.out" || fail "$name: $(grep problem "$scratch/one.out" | head -1)"
  "$inspect" --json "$staging/$name" | grep -q '"ok":true}$' || fail "$name: no JSON with ok true"
done

# The legacy values arrive: the K3 module on port 3 has its first threshold of
# 10.8 V, the controller history its last record.
"$inspect" "$staging/cfg/port3" >"$scratch/k3.out" || true
grep -Eq 'configuration value 1 of output 0 +1080  \(10\.80\)' "$scratch/k3.out" ||
  fail "cfg/port3: configuration value 1 of output 0 is not 1080 (10.80)"
"$inspect" --record 999 "$staging/history/port0" >"$scratch/last.out" || true
grep -q 'record 999 of 1000' "$scratch/last.out" || fail "history/port0: no record 999"

rm -f "$staging/history/port2"
if "$inspect" --tree "$staging" >"$scratch/tree2.out"; then
  fail "--tree passes with history/port2 removed"
fi
grep -Eq '^FAIL  history/port2 .* missing$' "$scratch/tree2.out" || fail "history/port2 is not named as missing"
grep -q '^verdict: FAIL, 31 files checked, 1 failed$' "$scratch/tree2.out" || fail "no FAIL verdict naming 1 file"

end_device_test inspect-tree
