#!/usr/bin/env bash
# The rehearsal on a device backup (tools/rehearse.sh) with the host tool: the
# sample device as a folder and as tar archives gives the demo's verdict; the
# backup is never modified and the working copy goes; backups that are not
# laid out like a device, or whose archive would reach outside its folder or
# holds links or device nodes, are refused with a clear message.
#
#   rehearse_test.sh TOOL INSPECT SAMPLE_GENERATOR
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rehearse=$here/../../tools/rehearse.sh
tool=${1:?usage: rehearse_test.sh TOOL INSPECT SAMPLE_GENERATOR}
inspect=${2:?usage: rehearse_test.sh TOOL INSPECT SAMPLE_GENERATOR}
generator=${3:?usage: rehearse_test.sh TOOL INSPECT SAMPLE_GENERATOR}
# shellcheck source=testlib.sh
. "$here/testlib.sh"
begin_device_test "$tool"

b=$scratch/backups
mkdir -p "$b" "$scratch/tmp"
"$generator" --seed 2 "$b/device"
tar -czf "$b/device.tar.gz" -C "$b/device" .
tar -cf "$b/device.tar" -C "$b/device" mnt usr
mkdir -p "$b/tz/etc" && cp -R "$b/device/mnt" "$b/device/usr" "$b/tz/" && echo 'EST5EDT,M3.2.0,M11.1.0' >"$b/tz/etc/TZ"
tar -cf "$b/tz.tar" -C "$b/tz" etc mnt usr
mkdir -p "$b/no-sav/mnt" && cp -R "$b/device/mnt/1" "$b/no-sav/mnt/"
tar -cf "$b/dotdot.tar" -C "$b/device" mnt/1/cfg/ipcfg --transform 's|^mnt/1/cfg/ipcfg|mnt/../../escape|'
tar -cPf "$b/absolute.tar" "$b/device/mnt/1/cfg/ipcfg"
mkdir -p "$b/link/usr/sav" "$b/link/mnt/1" && ln -s /etc "$b/link/usr/sav/etc"
tar -cf "$b/link.tar" -C "$b/link" mnt usr
mkdir -p "$b/node/usr/sav" "$b/node/mnt/1" && mknod "$b/node/usr/sav/null" c 1 3
tar -cf "$b/node.tar" -C "$b/node" mnt usr
before=$(cd "$b" && find . -type f -exec sha256sum {} + | sort)

# [OPTION...] BACKUP | status | a line the report must hold
cases=(
  "--rollback device.tar|0|the device is as it was: every entry under /usr/sav, /usr/sav2, /usr/sav3 and /mnt/2"
  "device|0|rehearsal: the migration completed and every file it wrote checks"
  "device.tar.gz|0|verdict: PASS, 31 files checked, 0 failed"
  "device.tar|0|/usr/sav and /usr/sav2 now hold the staging tree; /usr/sav2 kept its entries: update update_flag"
  "device.tar|0|zone Europe/Berlin (a fallback: the backup holds no zone of its own)"
  "tz.tar|0|user.notice times read in zone /etc/TZ=EST5EDT,M3.2.0,M11.1.0"
  "no-sav|2|is not laid out like a device: no /usr/sav (it holds: /mnt /mnt/1 )"
  "dotdot.tar|2|the archive has member names outside its folder: mnt/../../escape"
  "absolute.tar|2|the archive has member names outside its folder: /"
  "link|2|neither files nor folders (links, devices, ...): usr/sav/etc"
  "link.tar|2|the archive holds entries that are neither files nor folders: l usr/sav/etc"
  "node.tar|2|the archive holds entries that are neither files nor folders: c usr/sav/null"
  "missing.tar|2|no backup at"
)
for c in "${cases[@]}"; do
  IFS='|' read -r words want line <<<"$c"
  read -r -a words <<<"$words"
  name=${words[-1]}
  status=0
  TMPDIR=$scratch/tmp "$rehearse" "${words[@]:0:${#words[@]}-1}" "$tool" "$inspect" "$b/$name" >"$scratch/out" 2>&1 ||
    status=$?
  [ "$status" = "$want" ] || fail "$name: status $status, not $want"
  grep -qF -- "$line" "$scratch/out" || fail "$name: no line \"$line\" in: $(tail -n 3 "$scratch/out")"
done
# Every run's report names the zone, and the same tree verdict comes from the
# folder and from the archives.
TMPDIR=$scratch/tmp "$rehearse" --zone America/New_York --keep "$tool" "$inspect" "$b/device.tar" >"$scratch/out" 2>&1 ||
  fail "--zone America/New_York: the migration did not complete"
grep -q 'zone America/New_York (--zone)' "$scratch/out" || fail "the zone is not printed"
kept=$(find "$scratch/tmp" -mindepth 1 -maxdepth 1)
[ "$(echo "$kept" | grep -c .)" = 1 ] && [ "$(stat -c %a "$kept")" = 700 ] ||
  fail "--keep did not keep one working copy readable by its owner only: $kept"
[ "$(cmp -s "$kept/device/etc/localtime" /usr/share/zoneinfo/America/New_York && echo same)" = same ] ||
  fail "the sandbox does not run in the zone asked for"
rm -rf "$kept"
status=0
"$rehearse" --zone ../../etc/passwd "$tool" "$inspect" "$b/device" >"$scratch/out" 2>&1 || status=$?
[ $status = 2 ] && grep -q 'not a zone name' "$scratch/out" || fail "a zone name outside the zone files is taken"

after=$(cd "$b" && find . -type f -exec sha256sum {} + | sort)
[ "$before" = "$after" ] || fail "a backup was modified"
[ -z "$(ls -A "$scratch/tmp")" ] || fail "working copies were left: $(ls "$scratch/tmp")"
[ ! -e "$scratch/escape" ] && [ ! -e "$b/escape" ] || fail "an archive member was written outside its folder"

end_device_test rehearse
