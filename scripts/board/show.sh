#!/usr/bin/env bash
# The board shown (./run board): the sample device migrated by the ARM tool
# on the virtual board, its console as it boots; a second boot that finds the
# marker and does nothing; then the verdict: both boots list the same trees,
# they are the bytes that the same tool writes in the device sandbox, and the
# disk passes fsck.
#
#   show.sh TOOL LEGACY_DIR WORK [LAYOUT [SETTING]]
# Exit 0 when all holds, 1 otherwise, 77 when the board cannot run here.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
board=$here/board.sh
sandbox=$here/../sandbox.sh
[ $# -ge 3 ] || {
  echo "usage: show.sh TOOL LEGACY_DIR WORK [LAYOUT [SETTING]]" >&2
  exit 2
}
tool=$1 legacy=$2 work=$3 layout=${4:-ext4} setting=${5:-1}
"$board" check || exit $?
"$sandbox" check || exit $?
rm -rf "$work"
mkdir -p "$work"

say() { printf '\n== %s\n' "$*"; }
say "making the board: the sample device on its disk, layout $layout ($work/board)"
"$board" make "$work/board" "$layout" "$tool" "$legacy"
say "first boot: the migration on the ARM kernel (console)"
# The listing lines are left out here; they are compared below.
"$board" boot --show --setting "$setting" "$work/board" | grep -v '^[FDL?] /' || true
say "second boot: the marker is there, the tool does not run (console)"
"$board" boot --show --setting "$setting" "$work/board" | grep -v '^[FDL?] /' || true

say "the same tool in the device sandbox"
"$sandbox" create "$work/sandbox" "$tool" "$legacy"
"$sandbox" run "$work/sandbox" /mnt/2/snmp/sbin/snmpd /mnt/2/snmp/sbin/vq4-demon /mnt/2/snmp/sbin/snmp-system \
  /mnt/2/tools/tcpclientremote /mnt/2/tools/spi /mnt/2/tools/lanudpclient /mnt/2/tools/lantcpclient \
  /mnt/2/tools/tcpclient_psia /sbin/dhclient
# The sandbox's run leaves the marker to the firmware; the board's start-up
# writes it, empty, once the state is "done".
[ "$(head -n 1 "$work/sandbox/usr/sav3/.migration")" != "done" ] || : >"$work/sandbox/mnt/data/port0"
"$here/listing" "$work/sandbox" >"$work/sandbox.listing"
"$board" listing "$work/board" 1 >"$work/board.first.listing"
"$board" listing "$work/board" 2 >"$work/board.second.listing"

say "verdict"
status=0
verdict() { # TEXT COMMAND...
  local text=$1
  shift
  if "$@"; then echo "ok: $text"; else
    echo "FAILED: $text"
    status=1
  fi
}
verdict "the first boot ran the tool by its init script as shipped (contrib/sysvinit/sav3-migrate)" \
  grep -q "^sav3-migrate: state 'done' (exit status 0)" <(tr -d '\r' <"$work/board/console.1")
verdict "the second boot's init script found the marker and did not start the tool" \
  grep -q "^sav3-migrate: /mnt/data/port0 present: nothing to migrate" <(tr -d '\r' <"$work/board/console.2")
verdict "the board's migration ended with the state 'done'" \
  grep -q "^F /usr/sav3/.migration .* $(printf 'done\n' | sha256sum | cut -d' ' -f1)\$" "$work/board.first.listing"
verdict "the second boot changed nothing ($(grep -c . "$work/board.first.listing") paths)" \
  cmp -s "$work/board.first.listing" "$work/board.second.listing"
verdict "the board's trees are the sandbox's, byte for byte (/usr/sav, /usr/sav2, /usr/sav3, /mnt)" \
  diff "$work/sandbox.listing" "$work/board.second.listing"
verdict "fsck of the board's disks after its clean power-off" "$board" fsck "$work/board"
exit $status
