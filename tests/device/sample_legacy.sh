#!/usr/bin/env bash
# A small fixed legacy device, laid out like the controller's file system
# (mnt/1/cfg/..., usr/sav/...), for the device tests and the demo:
#
#   port 1 LQ supply board, port 2 ZRT module, port 3 K3 module, port 4 fifth
#   module kind; the LQ board's item record answers No in its second yes/no
#   field (the option flag of the inventory goes to 0);
#   the controller's item record and the first three records of its report;
#   legacy configuration and etc files that are copied as they are;
#   the old daemons and tools; four of them are small sleeping scripts that
#   the sandbox can start as daemons: /mnt/2/snmp/sbin/snmpd, /mnt/2/tools/spi
#   and /sbin/dhclient, which the tool kills, and /mnt/2/tools/keepme, which
#   it must leave alone;
#   /usr/sav with update_log, data/userlogindata.txt and stale files;
#   /usr/sav2 with entries that must survive ("update" in their names) and
#   entries that must go.
#
#   sample_legacy.sh DIR      (DIR absent or empty)
set -euo pipefail

dir=${1:?usage: sample_legacy.sh DIR}
mkdir -p "$dir"
[ -z "$(ls -A "$dir")" ] || {
  echo "sample_legacy.sh: $dir is not empty" >&2
  exit 1
}

# zeros FILE SIZE: a record of SIZE zero bytes.
zeros() { head -c "$2" /dev/zero >"$1"; }
# hex_at FILE OFFSET "00 11 22": bytes at an offset, the rest untouched.
hex_at() {
  local escaped
  escaped=$(echo "$3" | sed 's/\([0-9a-fA-F][0-9a-fA-F]\) */\\x\1/g')
  printf '%b' "$escaped" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# text_at FILE OFFSET TEXT: a text with its NUL.
text_at() { printf '%s\0' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

mkdir -p "$dir/mnt/1/cfg" "$dir/mnt/1/etc" "$dir/mnt/2/tools" "$dir/mnt/2/snmp/sbin" "$dir/mnt/data" "$dir/sbin" \
  "$dir/usr/sav/data" "$dir/usr/sav/cfg" "$dir/usr/sav2" "$dir/usr/sav3"
cfg=$dir/mnt/1/cfg

# Display record: five groups of three port slots (LQ, fifth kind, K3, unused,
# ZRT). Slot 2 of the LQ group names port 3, which the K3 group takes over;
# slot 5 names port 7, which does not exist.
zeros "$cfg/devicedisplay" 15
hex_at "$cfg/devicedisplay" 0 "01 03 00  04 07 00  03 00 00  02 00 00  02 00 00"

# Item records of the LQ board and the ZRT module: the second yes/no field.
zeros "$cfg/LQDataItemTmp_1.txt" 184
text_at "$cfg/LQDataItemTmp_1.txt" 0 "Tue Jun 04 2024 13:45:00"
text_at "$cfg/LQDataItemTmp_1.txt" 55 "No"
zeros "$cfg/ZrtDataItemTmp_1" 296
text_at "$cfg/ZrtDataItemTmp_1" 0 "Tue Jun 04 2024 13:45:00"
text_at "$cfg/ZrtDataItemTmp_1" 90 "Yes"

# The controller's item record: a summer time (daylight saving in the zone),
# readings 53.5, 12.25, 230.4 and 1.5, running, switch 1 on.
controller_record() {
  zeros "$1" 248
  text_at "$1" 0 "$2"
  hex_at "$1" 48 "00 00 56 42  00 00 44 41  66 66 66 43  00 00 c0 3f"
  text_at "$1" 76 "Active"
  text_at "$1" 96 "ON"
  text_at "$1" 106 "OFF"
  hex_at "$1" 244 "00 00 c0 3f"
}
controller_record "$cfg/MCUDataItemTmp_1.txt" "Tue Jun 04 2024 13:45:00"

# The controller report: three hourly records across the end of daylight
# saving; the file is short, the rest of the log reads as zeros.
report=$dir/usr/sav/data/MCUDataItemReport1.txt
: >"$report"
for t in "Sun Oct 27 2024 01:30:00" "Sun Oct 27 2024 02:30:00" "Sun Oct 27 2024 03:30:00"; do
  controller_record "$dir/record.tmp" "$t"
  cat "$dir/record.tmp" >>"$report"
done
rm "$dir/record.tmp"

# Legacy files copied as they are into the staging tree.
printf 'language=en\nbacklight=40\n' >"$cfg/panelcfg"
printf '127.0.0.1 localhost\n192.168.1.10 controller\n' >"$dir/mnt/1/etc/hosts"
printf 'nameserver 192.168.1.1\n' >"$dir/mnt/1/etc/resolv.conf"
printf 'V3.2.7 build 1189\n' >"$dir/mnt/2/tools/sysver"

# Old programs; the daemons sleep until they are killed (they run with the
# sandbox's busybox).
for p in snmp/sbin/vq4-demon snmp/sbin/snmp-system tools/tcpclientremote tools/lanudpclient \
  tools/lantcpclient tools/tcpclient_psia; do
  printf 'old program\n' >"$dir/mnt/2/$p"
done
for p in mnt/2/snmp/sbin/snmpd mnt/2/tools/spi mnt/2/tools/keepme sbin/dhclient; do
  printf '#!/bin/busybox ash\nwhile :; do /bin/busybox sleep 1; done\n' >"$dir/$p"
  chmod 755 "$dir/$p"
done

# The old live tree.
printf '2023-11-02 upgraded to V3.2.7\n' >"$dir/usr/sav/update_log"
printf 'admin 2024-06-04 13:40\n' >"$dir/usr/sav/data/userlogindata.txt"
printf 'stale\n' >"$dir/usr/sav/cfg/oldsetting"

# The second live tree: entries with "update" in their names stay (with their
# contents), every other entry goes, also one that holds an "update" path.
mkdir -p "$dir/usr/sav2/update_pkg/parts" "$dir/usr/sav2/olddir" "$dir/usr/sav2/data"
printf 'package\n' >"$dir/usr/sav2/update_pkg/parts/fw.bin"
printf 'notes\n' >"$dir/usr/sav2/update_pkg/readme"
printf 'firmware\n' >"$dir/usr/sav2/firmware_update.txt"
printf 'inside a removed folder\n' >"$dir/usr/sav2/olddir/update_notes"
printf 'stale\n' >"$dir/usr/sav2/stale.dat"
printf 'old\n' >"$dir/usr/sav2/data/port0"
printf 'an older update log\n' >"$dir/usr/sav2/update_log"
