#!/usr/bin/env bash
# Migrates a copy of a device's legacy trees in the device sandbox and reports
# what the migration made of them; the usage text below says how. The backup
# itself is never modified.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sandbox=$here/../scripts/sandbox.sh
# shellcheck source=scripts/packages.sh
. "$here/../scripts/packages.sh"
default_zone=Europe/Berlin # the sandbox's

usage() {
  cat <<'EOF'
usage: rehearse.sh [--zone ZONE] [--keep | --into DIR] [--json FILE] TOOL INSPECT BACKUP

Migrates a copy of BACKUP in the device sandbox with TOOL and reports the
tool's exit status, the commands it issued, the inspector's verdict on the
staging tree, and whether the live trees were replaced (if not, why: the
migration's state and the tool's system log lines).

BACKUP   a folder laid out like the device (mnt/1/cfg/..., usr/sav/...,
         usr/sav2/...) or a .tar or .tar.gz archive of one. Only its mnt and
         usr trees are taken; they may hold files and folders only (no links,
         no device nodes).
TOOL     sav3-migrate (an ARM build runs through qemu-arm-static)
INSPECT  a sav3-inspect that runs here
--zone ZONE  the device's zone, a name under /usr/share/zoneinfo, for a
         backup that holds none of its own. The device's own zone takes
         precedence, found as the tool finds it on the device: the backup's
         etc/localtime, else its etc/TZ (a POSIX TZ rule); else a file "zone"
         holding the name inside the backup (at its top), or beside it
         (NAME.zone beside the folder NAME or the archive NAME.tar or
         NAME.tar.gz). Without any of these: ZONE, else Europe/Berlin, and
         the report and the JSON mark the zone as a fallback.
--keep   keep the working copy (made in a folder only its owner can read and
         otherwise removed); --into DIR makes the sandbox in DIR and keeps it.
--json FILE  also write the outcome as one JSON object on one line
         (docs/json.md): tool, format, path, verdict (done, kept, pending,
         abandoned or failed), state (the first line of the state file, or
         null), reason (or null), replaced, zone (name, and source:
         etc/localtime, etc/TZ, zone file, --zone or fallback), exit (the
         tool's exit status), commands, seconds, log (the tool's system log
         lines), check.

Exit 0: the migration completed, the live trees hold the staging tree and
every file checks; 1: it did not; 2: usage, or a backup that cannot be used.
EOF
}
start=$(date +%s%N)
zone=$default_zone zone_from=fallback keep=no into="" json=""
backup=""

# The outcome as one JSON object (--json): VERDICT REASON [STATUS REPLACED STATE].
write_json() {
  [ -n "$json" ] || return 0
  local commands=/dev/null log=/dev/null check=/dev/null
  [ -z "${checked_first:-}" ] || ! jq -e . "$checked_first" >/dev/null 2>&1 || check=$checked_first
  if [ -n "${box:-}" ]; then
    [ ! -f "$box/commands.log" ] || commands=$box/commands.log
    [ ! -f "$box/tool.log" ] || log=$box/tool.log
  fi
  local version=""
  [ ! -x "${inspect:-}" ] || version=$("$inspect" --version 2>/dev/null | awk '{ print $2 }') || version=""
  jq -n -c -a --arg path "$backup" --arg verdict "$1" --arg reason "$2" --arg status "${3:-}" \
    --arg replaced "${4:-false}" --arg state "${5:-}" --arg zone "$zone" --arg zone_from "$zone_from" --arg version "$version" \
    --arg seconds "$((($(date +%s%N) - start) / 1000000))" \
    --rawfile commands "$commands" --rawfile log "$log" --slurpfile check "$check" '
    def lines: split("\n") | map(select(. != ""));
    def or_null: if . == "" then null else . end;
    {tool: {name: "sav3-rehearse", version: ($version | or_null)}, format: 1,
     path: $path, verdict: $verdict, state: ($state | or_null), reason: ($reason | or_null),
     replaced: ($replaced == "true"),
     zone: {name: $zone, source: $zone_from}, exit: (if $status == "" then null else ($status | tonumber) end),
     commands: ($commands | lines), seconds: ($seconds | tonumber / 1000), log: ($log | lines),
     check: ($check[0] // null)}' >"$json"
}
refuse() {
  echo "rehearse: $*" >&2
  write_json failed "$*"
  exit 2
}
say() { printf '\n== %s\n' "$*"; }
valid_zone() {
  case $1 in
    *..* | /* | "" | *[!A-Za-z0-9_+/-]*) refuse "not a zone name: $1" ;;
  esac
  [ -f "/usr/share/zoneinfo/$1" ] || refuse "no zone $1 in /usr/share/zoneinfo (package tzdata)"
}

while [ $# -gt 0 ]; do
  case $1 in
    -h | --help)
      usage
      exit 0
      ;;
    --*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;;
    --zone | --into | --json)
      [ $# -ge 2 ] || { usage >&2 && exit 2; }
      case $1 in
        --zone) zone=$2 zone_from=--zone ;;
        --into) into=$2 ;;
        --json) json=$2 ;;
      esac
      shift 2
      ;;
    --keep)
      keep=yes
      shift
      ;;
    --) shift && break ;;
    -*) usage >&2 && exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || { usage >&2 && exit 2; }
tool=$1 inspect=$2 backup=$3
[ -z "$json" ] || ensure_packages "${fleet_packages[@]}" || { echo "rehearse: --json needs jq" >&2 && exit 2; }
[ -f "$tool" ] || refuse "no tool at $tool"
[ -x "$inspect" ] || refuse "no inspector at $inspect"
valid_zone "$zone"
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
  tar -tf "$backup" >"$names" 2>"$work/tar.err" || refuse "cannot read the archive: $(grep -m 1 . "$work/tar.err")"
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
# The device's zone files (plain files only): the tool reads them on the
# device, so the rehearsal puts them where the tool looks.
[ -d "$backup" ] && from=$backup || from=$work/extracted
for file in etc/localtime etc/TZ; do
  if [ -f "$from/$file" ] && [ ! -L "$from/$file" ]; then
    mkdir -p "$copy/etc"
    cp "$from/$file" "$copy/$file"
  fi
done
missing=()
for need in usr/sav mnt/1; do [ -d "$copy/$need" ] || missing+=("/$need"); done
if [ ${#missing[@]} -ne 0 ]; then
  found=$(cd "$copy" && find . -mindepth 1 -maxdepth 2 -type d | sed 's|^\./|/|' | sort | tr '\n' ' ')
  [ -d "$backup" ] || found=$(cd "$work/extracted" && find . -mindepth 1 -maxdepth 2 -type d | sed 's|^\./||' |
    sort | head -n 8 | tr '\n' ' ')
  refuse "$backup is not laid out like a device: no ${missing[*]} (it holds: ${found:-nothing})"
fi

# The device's own zone, when the backup carries one (a plain file, never a
# link: its first line is printed).
zone_file="" zone_source=""
if [ -d "$backup" ]; then
  zone_file=$backup/zone zone_source="the backup's zone file"
else
  zone_file=$work/extracted/zone zone_source="the archive's zone file"
fi
if [ ! -f "$zone_file" ] || [ -L "$zone_file" ]; then
  zone_file=${backup%/}
  zone_file=${zone_file%.gz}
  zone_file=${zone_file%.tgz}
  zone_file=${zone_file%.tar}.zone zone_source=$zone_file
fi
if [ -f "$copy/etc/localtime" ]; then
  zone="the backup's /etc/localtime" zone_from=etc/localtime zone_source=""
elif [ -f "$copy/etc/TZ" ]; then
  zone="$(head -c 128 "$copy/etc/TZ" | head -n 1 | tr -d '\r')" zone_from=etc/TZ
  zone_source=" (the rule in the backup's /etc/TZ)"
elif [ -f "$zone_file" ] && [ ! -L "$zone_file" ]; then
  zone=$(head -c 200 "$zone_file" | head -n 1 | tr -d ' \t\r')
  valid_zone "$zone"
  zone_source=" (from $zone_source)" zone_from="zone file"
elif [ "$zone_from" = fallback ]; then
  zone_source=" (a fallback: the backup holds no zone of its own)"
else
  zone_source=" (--zone)"
fi

say "backup $backup ($kind): $(find "$copy" -type f | wc -l) files, $(du -sk "$copy" | cut -f1) KB"
[ "$(od -An -tx1 -j18 -N2 "$tool" | tr -d ' \n')" = 2800 ] && how="the ARM tool through qemu-arm-static" ||
  how="the host tool"
device=${into:-$work/device}
say "migrating a copy in the device sandbox ($how; zone $zone$zone_source)"
"$sandbox" create "$device" "$tool" "$copy" || refuse "the device sandbox could not be made"
device=$(cd "$device" && pwd)
box=$device/sandbox
# The sandbox's own /etc/localtime gives way to the device's zone files.
case $zone_from in
  etc/localtime) cp "$copy/etc/localtime" "$device/etc/localtime" ;;
  etc/TZ) rm -f "$device/etc/localtime" && cp "$copy/etc/TZ" "$device/etc/TZ" ;;
  *) cp "/usr/share/zoneinfo/$zone" "$device/etc/localtime" ;;
esac
# What the tool says it will do, asked first as a fleet script would
# (sav3-migrate --check changes nothing).
"$sandbox" run --arg --check --arg --json "$device" || refuse "the sandbox run failed"
checked_first=$work/check.json
cp "$box/tool.out" "$checked_first"
if command -v jq >/dev/null 2>&1; then
  echo "asked first (sav3-migrate --check): $(jq -r '"\(.verdict): \(.reason) (exit \(.exit))"' "$checked_first" 2>&1)"
else
  echo "asked first (sav3-migrate --check --json): $(head -c 400 "$checked_first")"
fi
tool_start=$(date +%s%N)
"$sandbox" run "$device" /mnt/2/snmp/sbin/snmpd /mnt/2/tools/spi /sbin/dhclient || refuse "the sandbox run failed"
end=$(date +%s%N)
tool_status=$(cat "$box/tool.status")
# A tool that issues no command (a migration done or abandoned earlier) leaves
# no command log.
[ -f "$box/commands.log" ] || : >"$box/commands.log"
echo "exit status $tool_status, $(wc -c <"$box/tool.out") + $(wc -c <"$box/tool.err") bytes" \
  "printed by the tool, $(wc -l <"$box/commands.log") shell commands, $(((end - tool_start) / 1000000)) ms"
echo "old daemons: $(tr '\n' ';' <"$box/daemons" | sed 's/;$//; s/;/; /g') (137: killed)"
echo "commands:"
awk '{ printf "  %2d  %s\n", NR, $0 }' "$box/commands.log"

# Times are shown in the device's zone, as on the device.
staging=$device/usr/sav3
if [ "$zone_from" = etc/TZ ]; then export TZ=$zone; else export TZ=":$device/etc/localtime"; fi
say "checking every file the tool wrote (sav3-inspect --tree /usr/sav3)"
checked=yes
"$inspect" --tree "$staging" || checked=no

say "the live trees"
state="" replaced=false
[ ! -f "$staging/.migration" ] || state=$(head -n 1 "$staging/.migration")
if [ -d "$staging" ] && [ "$state" = "done" ] && diff -rq --exclude=.migration --exclude=.before "$staging" "$device/usr/sav" >/dev/null 2>&1; then
  replaced=true
  kept=$(cd "$device/usr/sav2" && for f in *update*; do
    if [ -e "$f" ] && [ ! -e "$staging/$f" ]; then printf '%s ' "$f"; fi
  done)
  echo "/usr/sav and /usr/sav2 now hold the staging tree; /usr/sav2 kept its entries: ${kept:-none}"
else
  echo "/usr/sav and /usr/sav2 were not replaced"
fi
echo "state (the first line of /usr/sav3/.migration): ${state:-none}"
if [ -s "$box/tool.log" ]; then
  echo "the tool's system log lines:"
  sed 's/^/  /' "$box/tool.log"
else
  echo "the tool logged nothing"
fi
# The verdict: the state's first word when the tool ran and the state is one
# of its own; a failure with its reason otherwise.
reason=${state#* }
[ "$reason" != "$state" ] || reason=""
case $state in
  done) verdict="done" ;;
  "kept "* | "pending" | "pending "* | "abandoned "*) verdict=${state%% *} ;;
  *) verdict=failed reason="no migration state${state:+: $state}" ;;
esac
if [ "$tool_status" != 0 ]; then
  verdict=failed reason="the tool exited with status $tool_status"
elif [ "$verdict" = "done" ] && [ $replaced = false ]; then
  verdict=failed reason="state done, but the live trees do not hold the staging tree"
elif [ "$verdict" = "done" ] && [ $checked = no ]; then
  verdict=failed reason="state done, but files that the tool wrote do not check"
fi
status=0
[ "$verdict" = "done" ] || status=1
write_json "$verdict" "$reason" "$tool_status" "$replaced" "$state"
echo
if [ $status -eq 0 ]; then
  echo "rehearsal: the migration completed and every file it wrote checks"
else
  echo "rehearsal: the migration did NOT complete (see above)"
fi
exit $status
