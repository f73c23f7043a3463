#!/usr/bin/env bash
# The update frameworks' hooks in contrib/ (Mender, RAUC, SWUpdate and the
# sav3-undo they call; the Mender inventory script), each run as the device
# runs it: inside the device sandbox (sandbox.sh run --exec), on the sample
# device before its migration, after it (done, with a before-image), or
# after --commit; rauc and fw_setenv are stubs that record their calls. One
# row per case:
#
#   SCRIPT ARGS | DEVICE [SANDBOX OPTION...] | EXIT | STATE | IMAGE | CALLS | TEXT
#
# STATE the state file's first line after it ("none": no file), IMAGE whether
# the before-image is still there (kept, gone), CALLS the stubs' calls ("-":
# none), TEXT a part of what the script printed. A device rolled back must
# hold under /usr/sav, /usr/sav2, /usr/sav3, /mnt/2 and /mnt/data what it
# held before the migration (no marker).
#
#   contrib_test.sh TOOL
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
tool=${1:?usage: contrib_test.sh TOOL}
. "$here/testlib.sh"
begin_device_test "$tool"

# The sample device with an old program under /mnt/2, the hooks in
# /opt/contrib, sav3-undo beside the tool, and the frameworks' stubs.
make_device new "$tool" >/dev/null
root=$scratch/new
printf 'the old firmware'"'"'s program\n' >"$root/mnt/2/tools/spi"
chmod 755 "$root/mnt/2/tools/spi"
install -D -m 755 "$top/contrib/sav3-undo" "$root/usr/sbin/sav3-undo"
mkdir -p "$root/opt/contrib" "$root/usr/bin"
cp -a "$top/contrib/mender" "$top/contrib/rauc" "$top/contrib/swupdate" "$top/contrib/mender-inventory-sav3" \
  "$root/opt/contrib/"
for stub in rauc fw_setenv; do
  printf '#!/bin/busybox ash\necho "%s $*" >>/tmp/calls\n' "$stub" >"$root/usr/bin/$stub"
  chmod 755 "$root/usr/bin/$stub"
done
trees() { snapshot "$1" usr/sav usr/sav2 usr/sav3 mnt/2 mnt/data | grep -Ev ' usr/sav3/\.migration( |$)'; }
trees "$root" >"$scratch/before"
cp -a "$root" "$scratch/migrated"
"$sandbox" run "$scratch/migrated" >/dev/null
expect_state "the migration" "$scratch/migrated" "done"
touch "$scratch/migrated/mnt/data/port0" # the new firmware's marker
cp -a "$scratch/migrated" "$scratch/committed"
"$sandbox" run --arg --commit "$scratch/committed" >/dev/null
[ ! -e "$scratch/committed/usr/sav3/.before" ] || fail "--commit left the before-image"

while IFS='|' read -r script device status state image calls text; do
  case $script in '#'* | '') continue ;; esac
  read -ra words <<<"$script"
  read -ra options <<<"$device"
  state=${state# } state=${state% } calls=${calls# } calls=${calls% } text=${text# }
  what="${words[*]} on ${options[*]}"
  dev=$scratch/dev
  rm -rf "$dev" && cp -a "$scratch/${options[0]}" "$dev"
  args=()
  for word in "${words[@]:1}"; do args+=(--arg "$word"); done
  "$sandbox" run "${options[@]:1}" "${args[@]}" --exec "/opt/contrib/${words[0]}" "$dev" >/dev/null ||
    fail "$what: the sandbox run failed"
  out=$(cat "$dev/sandbox/tool.out" "$dev/sandbox/tool.err")
  got=$(cat "$dev/sandbox/tool.status")
  [ "$got" = "${status// /}" ] || fail "$what: exit status $got, not$status: $out"
  expect_state "$what" "$dev" "$state"
  if [ -e "$dev/usr/sav3/.before" ]; then kept=kept; else kept=gone; fi
  [ "$kept" = "${image// /}" ] || fail "$what: the before-image is $kept, not$image"
  made=$(paste -sd';' "$dev/tmp/calls" 2>/dev/null)
  [ "${made:--}" = "$calls" ] || fail "$what: calls '${made:--}', not '$calls'"
  [[ $out == *"$text"* ]] || fail "$what: printed '$out', not '$text'"
  if [ "$state" = "rolled back" ]; then
    trees "$dev" >"$scratch/after"
    expect_same "$what: the trees are not as before the migration" "$scratch/before" "$scratch/after"
  fi
done <<'ROWS'
mender/ArtifactRollback_Enter_00 | migrated | 0 | rolled back | gone | - | put back and checked
mender/ArtifactRollback_Enter_00 | new | 0 | none | gone | - | undo: no: no before-image
mender/ArtifactRollback_Enter_00 | migrated --read-only /usr/sav | 1 | rolling back | kept | - | must not go back
mender/ArtifactCommit_Enter_99 | migrated | 0 | done | gone | - | committed: before-image deleted
mender/ArtifactCommit_Enter_99 | new | 1 | none | gone | - | the migration is not done
rauc/sav3-rauc-mark good | migrated | 0 | done | gone | rauc status mark-good booted | committed
rauc/sav3-rauc-mark good | new | 1 | none | gone | - | not accepted
rauc/sav3-rauc-mark bad | migrated | 0 | rolled back | gone | rauc status mark-active other | put back and checked
rauc/sav3-rauc-mark bad | committed | 0 | done | gone | rauc status mark-active other | undo: no
rauc/sav3-rauc-mark bad | migrated --read-only /usr/sav | 1 | rolling back | kept | - | rollback failed
swupdate/sav3-swupdate preinst | migrated | 0 | done | kept | - |
swupdate/sav3-swupdate postinst | migrated | 0 | rolled back | gone | - | put back and checked
swupdate/sav3-swupdate good | migrated | 0 | done | gone | fw_setenv upgrade_available 0 | committed
mender-inventory-sav3 | migrated | 0 | done | kept | - | sav3_undo=true
ROWS
end_device_test "the update frameworks' hooks in contrib/"
