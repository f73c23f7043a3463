#!/usr/bin/env bash
# Migrates a copy of a device's legacy trees in the device sandbox and reports
# what the migration made of them: the tool's exit status, the commands it
# issued, the inspector's verdict on the staging tree, and whether the live
# trees were replaced (and if not, why: the migration's state and the tool's
# system log lines). The backup itself is never modified.
#
#   rehearse.sh [--zone ZONE] [--keep | --into DIR] TOOL INSPECT BACKUP
#
# BACKUP: a folder laid out like the device (mnt/1/cfg/..., usr/sav/...,
# usr/sav2/...) or a .tar or .tar.gz archive of one. Only its mnt and usr
# trees are taken; they may hold files and folders only (no links, no device
# nodes). The working copy is made in a folder only its owner can read and
# removed afterwards, unless --keep (or --into DIR, which makes the sandbox
# there and keeps it). ZONE: the device's zone (a name under
# /usr/share/zoneinfo); a backup carries none. TOOL: sav3-migrate (an ARM
# build runs through qemu-arm-static); INSPECT: a sav3-inspect that runs here.
#
# Exit 0: the migration completed, the live trees hold the staging tree and
# every file checks; 1: it did not; 2: usage or a backup that cannot be used.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sandbox=$here/../scripts/sandbox.sh
default_zone=Europe/Berlin # the sandbox's

usage() {
  echo "usage: rehearse.sh [--zone ZONE] [--keep | --into DIR] TOOL INSPECT BACKUP" >&2
  exit 2
}
refuse() {
  echo "rehearse: $*" >&2
  exit 2
}
say() { printf '\n== %s\n' "$*"; }

zone=$default_zone keep=no into=""
while [ $# -gt 0 ]; do
  case $1 in
    --zone)
      [ $# -ge 2 ] || usage
      zone=$2
      shift 2
      ;;
    --zone=*)
      zone=${1#--zone=}
      shift
      ;;
    --keep)
      keep=yes
      shift
      ;;
    --into)
      [ $# -ge 2 ] || usage
      into=$2
      shift 2
      ;;
    --) shift && break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || usage
tool=$1 inspect=$2 backup=$3
[ -f "$tool" ] || refuse "no tool at $tool"
[ -x "$inspect" ] || refuse "no inspector at $inspect"
case $zone in
  *..* | /* | "" | *[!A-Za-z0-9_+/-]*) refuse "not a zone name: $zone" ;;
esac
[ -f "/usr/share/zoneinfo/$zone" ] || refuse "no zone $zone in /usr/share/zoneinfo (package tzdata)"
[ -e "$backup" ] || refuse "no backup at $backup"
"$sandbox" check >/dev/null || refuse "this machine cannot make the device sandbox: $("$sandbox" check | tail -1)"

# The working copy: readable by its owner only, whatever the umask.
umask 077
work=$(mktemp -d "${TMPDIR:-/tmp}/sav3-rehearse.XXXXXX")
cleanup() {
  if [ "$keep" = yes ]; then
    echo "working copy kept in $work (it holds the backup's credentials: remove it when done)"
  else
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT
copy=$work/backup
mkdir "$copy"

# Only the device's own trees: a backup must not replace the sandbox's shell
# or its records.
tops=(mnt usr)
if [ -d "$backup" ]; then
  kind="a folder"
  for top in "${tops[@]}"; do
    [ -d "$backup/$top" ] || continue
    odd=$(cd "$backup" && find "$top" ! -type f ! -type d | head -n 5)
    [ -z "$odd" ] || refuse "the backup holds entries that are neither files nor folders (links, devices, ...): $odd"
    cp -R "$backup/$top" "$copy/"
  done
else
  case $backup in
    *.tar | *.tar.gz | *.tgz) kind="a tar archive" ;;
    *) refuse "$backup is neither a folder nor a .tar or .tar.gz archive" ;;
  esac
  names=$work/names types=$work/types
  tar -tf "$backup" >"$names" 2>"$work/tar.err" || refuse "cannot read the archive: $(tail -1 "$work/tar.err")"
  tar -tvf "$backup" | cut -c1 >"$types"
  # Member names stay inside the copy: no absolute names, no "..".
  bad=$(grep -E '^/|(^|/)\.\.(/|$)' "$names" | head -n 5 || true)
  [ -z "$bad" ] || refuse "the archive has member names outside its folder: $bad"
  # Files and folders only: no links, device nodes, fifos.
  bad=$(paste -d ' ' "$types" "$names" | grep -v -E '^[-d] ' | head -n 5 || true)
  [ -z "$bad" ] || refuse "the archive holds entries that are neither files nor folders: $bad"
  mkdir "$work/extracted"
  tar -xf "$backup" -C "$work/extracted" --no-same-owner --no-same-permissions 2>"$work/tar.err" ||
    refuse "cannot extract the archive: $(tail -1 "$work/tar.err")"
  # A leading "./" is common; the tops are looked up from the archive's root.
  for top in "${tops[@]}"; do
    [ ! -d "$work/extracted/$top" ] || mv "$work/extracted/$top" "$copy/"
  done
fi
missing=()
for need in usr/sav mnt/1; do [ -d "$copy/$need" ] || missing+=("/$need"); done
if [ ${#missing[@]} -ne 0 ]; then
  found=$(cd "$copy" && find . -mindepth 1 -maxdepth 2 -type d | sed 's|^\./|/|' | sort | tr '\n' ' ')
  [ -d "$backup" ] || found=$(cd "$work/extracted" && find . -mindepth 1 -maxdepth 2 -type d | sed 's|^\./||' |
    sort | head -n 8 | tr '\n' ' ')
  refuse "$backup is not laid out like a device: no ${missing[*]} (it holds: ${found:-nothing})"
fi

say "backup $backup ($kind): $(find "$copy" -type f | wc -l) files, $(du -sk "$copy" | cut -f1) KB"
[ "$(od -An -tx1 -j18 -N2 "$tool" | tr -d ' \n')" = 2800 ] && how="the ARM tool through qemu-arm-static" ||
  how="the host tool"
device=${into:-$work/device}
say "migrating a copy in the device sandbox ($how; zone $zone)"
"$sandbox" create "$device" "$tool" "$copy"
device=$(cd "$device" && pwd)
cp "/usr/share/zoneinfo/$zone" "$device/etc/localtime"
start=$(date +%s%N)
"$sandbox" run "$device" /mnt/2/snmp/sbin/snmpd /mnt/2/tools/spi /sbin/dhclient
end=$(date +%s%N)
box=$device/sandbox
echo "exit status $(cat "$box/tool.status"), $(wc -c <"$box/tool.out") + $(wc -c <"$box/tool.err") bytes" \
  "printed by the tool, $(wc -l <"$box/commands.log") shell commands, $(((end - start) / 1000000)) ms"
echo "old daemons: $(tr '\n' ';' <"$box/daemons" | sed 's/;$//; s/;/; /g') (137: killed)"
echo "commands:"
awk '{ printf "  %2d  %s\n", NR, $0 }' "$box/commands.log"

# Times are shown in the device's zone, as on the device.
staging=$device/usr/sav3
export TZ=":$device/etc/localtime"
say "checking every file the tool wrote (sav3-inspect --tree /usr/sav3)"
status=0
"$inspect" --tree "$staging" || status=1

say "the live trees"
state=""
[ ! -f "$staging/.migration" ] || state=$(head -n 1 "$staging/.migration")
if [ -d "$staging" ] && [ "$state" = done ] && diff -rq --exclude=.migration "$staging" "$device/usr/sav" >/dev/null 2>&1; then
  kept=$(cd "$device/usr/sav2" && for f in *update*; do
    if [ -e "$f" ] && [ ! -e "$staging/$f" ]; then printf '%s ' "$f"; fi
  done)
  echo "/usr/sav and /usr/sav2 now hold the staging tree; /usr/sav2 kept its entries: ${kept:-none}"
else
  status=1
  echo "/usr/sav and /usr/sav2 were not replaced"
fi
echo "state (the first line of /usr/sav3/.migration): ${state:-none}"
if [ -s "$box/tool.log" ]; then
  echo "the tool's system log lines:"
  sed 's/^/  /' "$box/tool.log"
else
  echo "the tool logged nothing"
fi
echo
if [ $status -eq 0 ]; then
  echo "rehearsal: the migration completed and every file it wrote checks"
else
  echo "rehearsal: the migration did NOT complete (see above)"
fi
exit $status
