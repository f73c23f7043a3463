#!/usr/bin/env bash
# End-to-end runs of the real migration tool in the device sandbox.
#
#   device_test.sh CASE TOOL INSPECT  INSPECT: a sav3-inspect that runs on
#                                     this machine; it checks every headed
#                                     record file the tool wrote. CASE:
#     full                a migration of the sample legacy device
#     marker              /mnt/data/port0 present: nothing happens
#     full-disk           the staging tree on a small file system that fills
#                         up part-way
#     read-only-staging   /usr/sav3 cannot be written
#     record-dir          legacy record paths that are folders
#     empty-files         every legacy file of size 0
#     double-files        every legacy file twice over
#                                     In each of these the tool exits 0 and
#                                     prints nothing, and either the migration
#                                     is complete and valid or /usr/sav and
#                                     /usr/sav2 keep every byte they had.
#   device_test.sh same-as-host TOOL HOST_TOOL
#                                     the same commands and the same bytes
#   device_test.sh recipe-install TOOL INSPECT SAMPLE_GENERATOR
#                                     a build with a firmware build system's
#                                     own toolchain file (no preset), installed
#                                     with DESTDIR: two static ARM tools that
#                                     run under qemu; the staged tool writes
#                                     the same bytes as TOOL on a sample
#                                     device whose reports run past 2038
#
# Exit 0 pass, 1 fail, 77 skip (no sandbox on this machine, or no host tool).
# SAV3_KEEP_SANDBOX=1 keeps the scratch folders; a failing test keeps them.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/device/testlib.sh
. "$here/testlib.sh"
case_name=${1:?usage: device_test.sh CASE TOOL [INSPECT | HOST_TOOL [SAMPLE_GENERATOR]]}
tool=${2:?usage: device_test.sh CASE TOOL [INSPECT | HOST_TOOL [SAMPLE_GENERATOR]]}
if [ "$case_name" != same-as-host ]; then
  inspect=${3:?usage: device_test.sh CASE TOOL INSPECT}
  # marker writes no headed record file and needs no inspector.
  if [ ! -x "$inspect" ] && [ "$case_name" != marker ]; then
    echo "SKIP: no record inspector at $inspect (build the host preset first)"
    exit 77
  fi
fi

begin_device_test "$tool"

# The daemons of the sample device started beside the tool: three that the
# tool must kill and one of another name that it must leave alone.
daemons=(/mnt/2/snmp/sbin/snmpd /mnt/2/tools/spi /sbin/dhclient /mnt/2/tools/keepme)

byte(){ od -An -tu1 -j"$2" -N1 "$1" | tr -d ' '; }

# headed FILE: the inspector's verdict on one headed record file (magic, both
# checksums, byte 28, the reserved header bytes, the length, and the size,
# count and reserved fields of the file's kind, known from its name). Prints
# "size S count C" and exits 0 when it holds, else its problems on one line
# and exits 1.
headed() {
  local out problems
  if out=$("$inspect" "$1" 2>&1); then
    sed -n '1s/.*, record size \([0-9]*\) x count \([0-9]*\), header ok$/size \1 count \2/p' <<<"$out"
  else
    problems=$(grep -E '^  problem: |: cannot read' <<<"$out" |
      sed 's/^  problem: //; s/^.*: cannot read/cannot read/' | awk 'NR > 1 { printf "; " } { printf "%s", $0 }')
    echo "${problems:-$(head -n 1 <<<"$out")}"
    return 1
  fi
}

# The device inventory, decoded field by field (header checked first).
check_inventory() {
  local inv=$1/usr/sav3/data/device
  local line
  if ! line=$(headed "$inv"); then
    fail "inventory: $line"
    return
  fi
  local expect=(1 2 3 4 5) port
  for port in 0 1 2 3 4; do
    [ "$(byte "$inv" $((30 + port)))" = "${expect[$port]}" ] ||
      fail "inventory: port $port has code $(byte "$inv" $((30 + port))), not ${expect[$port]}"
  done
  local reserved
  reserved=$(od -An -tu1 -j35 -N28 "$inv" | tr -s ' \n' '\n' | grep -cv '^0*$' || true)
  [ "$reserved" = 0 ] || fail "inventory: $reserved reserved bytes are not zero"
  [ "$(byte "$inv" 63)" = 0 ] || fail "inventory: option flag $(byte "$inv" 63), not 0 (the LQ board answered No)"
  local counts
  counts=$(od -An -tu1 -j64 -N4 "$inv" | tr -s ' ' ' ' | sed 's/^ //')
  [ "$counts" = "1 1 1 1" ] || fail "inventory: module counts '$counts', not '1 1 1 1'"
}

# The staging tree: the legacy copies as they were, every other file a valid
# headed record file.
check_staging() {
  local root=$1 legacy=$scratch/legacy f rel
  for d in data cfg etc history; do
    [ -d "$root/usr/sav3/$d" ] || fail "staging folder /usr/sav3/$d missing"
  done
  check "update_log carried into the staging tree" cmp "$legacy/usr/sav/update_log" "$root/usr/sav3/update_log"
  check "userlogindata.txt carried into the staging tree" \
    cmp "$legacy/usr/sav/data/userlogindata.txt" "$root/usr/sav3/data/userlogindata.txt"
  for f in "$legacy"/mnt/1/etc/*; do
    check "/mnt/1/etc/${f##*/} copied into /usr/sav3/etc" cmp "$f" "$root/usr/sav3/etc/${f##*/}"
  done
  for f in "$legacy"/mnt/1/cfg/*; do
    [ -f "$f" ] || continue # cp does not copy a folder
    # A converted file of the same name may replace the copy.
    cmp -s "$f" "$root/usr/sav3/cfg/${f##*/}" || headed "$root/usr/sav3/cfg/${f##*/}" >/dev/null ||
      fail "/mnt/1/cfg/${f##*/} neither copied into /usr/sav3/cfg nor replaced by a headed file"
  done
  local headed=0 out
  while IFS= read -r rel; do
    case $rel in
      update_log | data/userlogindata.txt) continue ;;
      etc/*) continue ;;
      cfg/*) cmp -s "$legacy/mnt/1/cfg/${rel#cfg/}" "$root/usr/sav3/$rel" && continue ;;
    esac
    if out=$(headed "$root/usr/sav3/$rel"); then
      headed=$((headed + 1))
    else
      fail "/usr/sav3/$rel is not a valid headed record file: $out"
    fi
  done < <(cd "$root/usr/sav3" && find . -type f ! -path './.migration*' ! -path './.before/*' | sed 's|^\./||' | LC_ALL=C sort)
  [ "$headed" -ge 2 ] || fail "only $headed headed record files in the staging tree"
  echo "staging tree: $headed headed record files"
}

# /usr/sav is the staging tree; /usr/sav2 is the staging tree plus the
# top-level entries of the old /usr/sav2 whose names contain "update".
check_live_trees() {
  local root=$1
  diff -r -x '.migration*' -x .before "$root/usr/sav3" "$root/usr/sav" >"$scratch/sav.diff" 2>&1 || {
    fail "/usr/sav differs from the staging tree:"
    cat "$scratch/sav.diff"
  }
  diff -r -x '.migration*' -x .before "$root/usr/sav3" "$root/usr/sav2" >"$scratch/sav2.diff" 2>&1 || true
  if grep -v '^Only in .*/usr/sav2: .*update' "$scratch/sav2.diff" | grep -q .; then
    fail "/usr/sav2 differs from the staging tree (beyond its update entries):"
    cat "$scratch/sav2.diff"
  fi
  local legacy=$scratch/legacy
  check "update_pkg kept in /usr/sav2 with its contents" diff -r "$legacy/usr/sav2/update_pkg" "$root/usr/sav2/update_pkg"
  check "firmware_update.txt kept in /usr/sav2" cmp "$legacy/usr/sav2/firmware_update.txt" "$root/usr/sav2/firmware_update.txt"
  check "update_log of /usr/sav2 replaced by the staging one" cmp "$root/usr/sav3/update_log" "$root/usr/sav2/update_log"
  [ ! -e "$root/usr/sav2/olddir" ] || fail "/usr/sav2/olddir (with an update path inside) not removed"
  [ ! -e "$root/usr/sav2/stale.dat" ] || fail "/usr/sav2/stale.dat not removed"
  [ ! -e "$root/usr/sav/cfg/oldsetting" ] || fail "/usr/sav/cfg/oldsetting not removed"
}

# check_output_file ROOT PATH SIZE COUNT: a headed record file of that shape.
check_output_file() {
  local out
  if ! out=$(headed "$1$2"); then
    fail "$2: $out"
    return
  fi
  [ "$out" = "size $3 count $4" ] || fail "$2: $out, not size $3 count $4"
}

# The table of the files the migration writes (sav3-inspect --outputs), one
# line each: device path (%d: the port), record size, record count, the module
# type codes whose ports get it ("-": the controller's and the device's
# files), whether byte 0 of every record holds the type code, what it holds.
outputs() { "$inspect" --outputs; }

# check_fixed_outputs ROOT: the files every complete migration writes,
# whatever sits on the ports, each of the table's record size and count.
check_fixed_outputs() {
  local path size count
  while read -r path size count _; do
    if [ -f "$1$path" ]; then
      check_output_file "$1" "$path" "$size" "$count"
    else
      fail "complete migration without $path"
    fi
  done < <(outputs | awk '$4 == "-"')
}

# check_module_ports ROOT: each port's files as the table says for the type
# code that the inventory gives the port: every file its module gets, of the
# table's record size and count, with the type code in byte 0 where the table
# says so; no other port file (a K3 module gets no sub-record, the fifth kind
# no file at all).
check_module_ports() {
  local root=$1 port code path size count codes first file
  local -A want
  for port in 1 2 3 4; do
    code=$(byte "$root/usr/sav3/data/device" $((30 + port)))
    want=()
    while read -r path size count codes first _; do
      [[ ",$codes," == *",$code,"* ]] || continue
      # shellcheck disable=SC2059 # the table's path is the format
      printf -v file "$path" "$port"
      want[$file]=1
      check_output_file "$root" "$file" "$size" "$count"
      [ "$first" = no ] || [ "$(byte "$root$file" 30)" = "$code" ] ||
        fail "$file does not start with the type code $code"
    done < <(outputs | awk '$4 != "-"')
    while read -r path _; do
      # shellcheck disable=SC2059
      printf -v file "$path" "$port"
      [ -n "${want[$file]:-}" ] || [ ! -e "$root$file" ] || fail "$file written for a module of type code $code"
    done < <(outputs | awk '$4 != "-" && !seen[$1]++')
  done
}

check_programs_retired() {
  local root=$1 p
  for p in snmp/sbin/snmpd snmp/sbin/vq4-demon snmp/sbin/snmp-system tools/tcpclientremote tools/spi \
    tools/lanudpclient tools/lantcpclient tools/tcpclient_psia; do
    [ ! -e "$root/mnt/2/$p" ] || fail "/mnt/2/$p not deleted"
  done
  check "/mnt/2/tools/sysver kept" cmp "$scratch/legacy/mnt/2/tools/sysver" "$root/mnt/2/tools/sysver"
  check "/mnt/2/tools/keepme kept" cmp "$scratch/legacy/mnt/2/tools/keepme" "$root/mnt/2/tools/keepme"
  local expect
  expect=$'/mnt/2/snmp/sbin/snmpd exited 137\n/mnt/2/tools/spi exited 137\n/sbin/dhclient exited 137\n/mnt/2/tools/keepme running'
  [ "$(cat "$root/sandbox/daemons")" = "$expect" ] || {
    fail "daemons not killed as expected (137: killed with signal 9):"
    cat "$root/sandbox/daemons"
  }
}

# compare_with_host LEGACY_DIR NAME: run the tool and the host tool on the same
# legacy device; the commands, the daemons killed and every byte of the
# device's trees must be the same.
compare_with_host() {
  local legacy=$1 name=$2
  "$sandbox" create "$scratch/$name-tool" "$tool" "$legacy"
  "$sandbox" create "$scratch/$name-host" "$host_tool" "$legacy"
  "$sandbox" run "$scratch/$name-tool" "${daemons[@]}"
  "$sandbox" run "$scratch/$name-host" "${daemons[@]}"
  check_quiet_exit "$scratch/$name-tool"
  check "$name: the same commands in the same order" \
    cmp "$scratch/$name-host/sandbox/commands.log" "$scratch/$name-tool/sandbox/commands.log"
  check "$name: the same daemons killed" cmp "$scratch/$name-host/sandbox/daemons" "$scratch/$name-tool/sandbox/daemons"
  snapshot "$scratch/$name-host" >"$scratch/$name-host.snapshot"
  snapshot "$scratch/$name-tool" >"$scratch/$name-tool.snapshot"
  if ! diff "$scratch/$name-host.snapshot" "$scratch/$name-tool.snapshot"; then
    fail "$name: the trees differ between the host tool and $tool"
  fi
  echo "$name sample: $(grep -c '^f' "$scratch/$name-tool.snapshot") files compared," \
    "$(wc -l <"$scratch/$name-tool/sandbox/commands.log") commands"
}

# check_outcome ROOT BEFORE: the run either completed (all the commands; every
# file the tool wrote is a valid headed record file; the live trees are the
# staging tree; the state "done"), or stopped before the replacement (the
# opening commands), or a check before the first command stopped it (no command),
# with /usr/sav and /usr/sav2 exactly as in the snapshot BEFORE and a state
# that is neither "pending" nor "done" (a staging tree on a small file system
# may have had no room left even for the state). Prints which.
check_outcome() {
  local root=$1 before=$2 n f rel out state
  check_quiet_exit "$root"
  n=$(grep -c . "$root/sandbox/commands.log" 2>/dev/null || true)
  n=${n:-0}
  if [ -d "$root/sandbox/tmpfs/usr/sav3" ]; then state=$(state_of "$root/sandbox/tmpfs"); else state=$(state_of "$root"); fi
  if [ "$n" = "$command_count" ]; then
    check_commands "$root" "$command_count"
    [ "$state" = "done" ] || fail "complete migration with the state '$state'"
    check_fixed_outputs "$root"
    while IFS= read -r rel; do
      case $rel in
        update_log | data/userlogindata.txt | etc/*) continue ;;
        cfg/*) [ -f "$scratch/legacy/mnt/1/cfg/${rel#cfg/}" ] && cmp -s "$scratch/legacy/mnt/1/cfg/${rel#cfg/}" \
          "$root/usr/sav3/$rel" && continue ;;
      esac
      out=$(headed "$root/usr/sav3/$rel") || fail "/usr/sav3/$rel is not a valid headed record file: $out"
    done < <(cd "$root/usr/sav3" && find . -type f ! -path './.migration*' ! -path './.before/*' | sed 's|^\./||' | LC_ALL=C sort)
    diff -r -x '.migration*' -x .before "$root/usr/sav3" "$root/usr/sav" >/dev/null 2>&1 || fail "/usr/sav is not the staging tree"
    diff -r -x '.migration*' -x .before "$root/usr/sav3" "$root/usr/sav2" 2>&1 | grep -v '^Only in .*/usr/sav2: .*update' | grep -q . &&
      fail "/usr/sav2 is not the staging tree (beyond its update entries)"
    echo "complete migration"
  elif [ "$n" = "$opening_count" ] || [ "$n" = 0 ]; then
    [ "$n" = 0 ] || check_commands "$root" "$opening_count"
    case $state in pending* | done*) fail "live trees kept with the state '$state'" ;; esac
    live_snapshot "$root" >"$scratch/after"
    diff "$before" "$scratch/after" || fail "/usr/sav or /usr/sav2 changed although the migration did not complete"
    if [ "$n" = 0 ]; then echo "nothing done"; else echo "live trees kept"; fi
  else
    fail "$n commands issued, neither 0, $opening_count nor $command_count"
  fi
}

# The legacy files of a device, rewritten by a command: "$1 FILE".
rewrite_legacy_files() {
  local root=$1 how=$2 f
  while IFS= read -r f; do "$how" "$f"; done < <(find "$root/mnt/1" "$root/usr/sav/data" "$root/usr/sav/cfg" \
    "$root/usr/sav/ipv6_configuration" "$root/mnt/2/tools/sysver" -type f 2>/dev/null)
}
empty_file() { : >"$1"; }
double_file() { cat "$1" "$1" >"$1.twice" && mv "$1.twice" "$1"; }

case $case_name in
  full-disk)
    # 16k: full during the legacy copies; 256k: during the histories; 900k:
    # during the alarm history, the last large file.
    for size in 16k 256k 900k; do
      make_device "disk-$size" "$tool"
      live_snapshot "$scratch/disk-$size" >"$scratch/before"
      "$sandbox" run --tmpfs /usr/sav3 "$size" "$scratch/disk-$size" "${daemons[@]}"
      out=$(check_outcome "$scratch/disk-$size" "$scratch/before")
      echo "$size: $out"
      case $out in *FAIL*) failures=$((failures + 1)) ;; esac
      staged=$scratch/disk-$size/sandbox/tmpfs/usr/sav3
      [ -d "$staged" ] || fail "$size: the small file system was not mounted"
      # The file system really filled up: the alarm history did not fit.
      if [ -f "$staged/history/alarm" ] && headed "$staged/history/alarm" >/dev/null; then
        fail "$size: the alarm history was written whole, the file system did not fill up"
      fi
    done
    ;;
  read-only-staging)
    # An empty staging folder, and one left over from an earlier attempt.
    for kind in empty stale; do
      make_device "ro-$kind" "$tool"
      if [ $kind = stale ]; then
        mkdir -p "$scratch/ro-$kind"/usr/sav3/{data,cfg,etc,history}
        printf 'old\n' >"$scratch/ro-$kind/usr/sav3/data/device"
      fi
      live_snapshot "$scratch/ro-$kind" >"$scratch/before"
      snapshot "$scratch/ro-$kind" | grep ' usr/sav3' >"$scratch/staging-before" || true
      "$sandbox" run --read-only /usr/sav3 "$scratch/ro-$kind" "${daemons[@]}"
      out=$(check_outcome "$scratch/ro-$kind" "$scratch/before")
      echo "$kind: $out"
      [ "$out" = "nothing done" ] || fail "$kind: $out"
      snapshot "$scratch/ro-$kind" | grep ' usr/sav3' >"$scratch/staging-after" || true
      diff "$scratch/staging-before" "$scratch/staging-after" || fail "$kind: the read-only staging folder changed"
    done
    ;;
  record-dir)
    make_device device "$tool"
    for p in /mnt/1/cfg/devicedisplay /mnt/1/cfg/pwmcfg /mnt/1/cfg/K3cfg_1 /mnt/1/cfg/authcfg /mnt/1/cfg/ipcfg \
      /usr/sav/data/MCUDataItemReport1.txt /usr/sav/data/K3DataItemReport1.txt /mnt/2/tools/sysver; do
      rm -rf "$scratch/device$p"
      mkdir -p "$scratch/device$p/inside"
    done
    live_snapshot "$scratch/device" >"$scratch/before"
    "$sandbox" run "$scratch/device" "${daemons[@]}"
    # A folder where a legacy file should be is seen before the first command.
    out=$(check_outcome "$scratch/device" "$scratch/before")
    [ "$out" = "nothing done" ] || fail "folders at legacy paths: $out"
    ;;
  empty-files | double-files)
    make_device device "$tool"
    if [ "$case_name" = empty-files ]; then rewrite_legacy_files "$scratch/device" empty_file; else
      rewrite_legacy_files "$scratch/device" double_file
    fi
    # The comparison of legacy copies and the live trees use these files.
    rm -rf "$scratch/legacy" && mkdir -p "$scratch/legacy" && (cd "$scratch/device" && cp -a mnt usr "$scratch/legacy/")
    live_snapshot "$scratch/device" >"$scratch/before"
    "$sandbox" run "$scratch/device" "${daemons[@]}"
    out=$(check_outcome "$scratch/device" "$scratch/before")
    echo "$out"
    case $out in *FAIL* | "live trees kept" | "nothing done") fail "legacy files of unusual size stopped the migration: $out" ;; esac
    ;;
  full)
    make_device device "$tool"
    "$sandbox" run "$scratch/device" "${daemons[@]}"
    check_quiet_exit "$scratch/device"
    check_commands "$scratch/device" "$command_count"
    [ "$(state_of "$scratch/device")" = "done" ] || fail "state '$(state_of "$scratch/device")', not done"
    check_programs_retired "$scratch/device"
    check_staging "$scratch/device"
    check_inventory "$scratch/device"
    check_fixed_outputs "$scratch/device"
    check_module_ports "$scratch/device"
    check_live_trees "$scratch/device"
    ;;
  marker)
    make_device device "$tool"
    printf 'configured\n' >"$scratch/device/mnt/data/port0"
    snapshot "$scratch/device" >"$scratch/before"
    "$sandbox" run "$scratch/device" "${daemons[@]}"
    check_quiet_exit "$scratch/device"
    [ ! -e "$scratch/device/sandbox/commands.log" ] || {
      fail "commands ran although the marker exists:"
      cat "$scratch/device/sandbox/commands.log"
    }
    snapshot "$scratch/device" >"$scratch/after"
    diff "$scratch/before" "$scratch/after" || fail "the device's trees changed although the marker exists"
    [ "$(grep -c ' running$' "$scratch/device/sandbox/daemons")" = "${#daemons[@]}" ] ||
      fail "a daemon was killed although the marker exists"
    ;;
  recipe-install)
    generator=${4:?usage: device_test.sh recipe-install TOOL INSPECT SAMPLE_GENERATOR}
    if ! command -v arm-linux-gnueabihf-g++ >/dev/null || ! command -v qemu-arm-static >/dev/null; then
      echo "SKIP: no ARM cross compiler or qemu-arm-static"
      exit 77
    fi
    source_dir=$(cd "$here/../.." && pwd)
    recipe=$scratch/recipe-build image=$scratch/image
    if ! { cmake -S "$source_dir" -B "$recipe" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/recipe-toolchain.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DSAV3_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr &&
      cmake --build "$recipe" -j2 && DESTDIR=$image cmake --install "$recipe"; } >"$scratch/recipe.log" 2>&1; then
      tail -n 30 "$scratch/recipe.log"
      fail "the build with the recipe's toolchain file, or its install, failed"
    else
      installed=$(cd "$image" && find . ! -type d | sort | tr '\n' ' ')
      [ "$installed" = "./usr/bin/sav3-inspect ./usr/sbin/sav3-migrate ./usr/share/man/man1/sav3-inspect.1 ./usr/share/man/man8/sav3-migrate.8 " ] ||
        fail "the install holds $installed, not the two tools and their manual pages"
      for staged in "$image/usr/sbin/sav3-migrate" "$image/usr/bin/sav3-inspect"; do
        # ELF class 1 (32-bit) in byte 4, machine 0x28 (ARM) in bytes 18 and 19.
        [ "$(od -An -tx1 -j4 -N1 "$staged" | tr -d ' ')$(od -An -tx1 -j18 -N2 "$staged" | tr -d ' ')" = 012800 ] ||
          fail "$staged is no 32-bit ARM executable"
        if arm-linux-gnueabihf-readelf -l "$staged" | grep -q INTERP; then fail "$staged is not static"; fi
      done
      check "the staged inspector runs under qemu and reports the project's version" \
        test "$(qemu-arm-static "$image/usr/bin/sav3-inspect" --version)" = "$("$inspect" --version)"
      # Reports from 2038-01-01: the later ones lie past 2038-01-19.
      "$generator" --seed 5 --from 2038-01-01 "$scratch/late" >/dev/null
      host_tool=$tool tool=$image/usr/sbin/sav3-migrate
      compare_with_host "$scratch/late" late
      history=$scratch/late-tool/usr/sav3/history/port0
      TZ=":$scratch/late-tool/etc/localtime" "$inspect" --record 0 "$history" | grep -q '(2038-01-01 07:00:00 CET)' ||
        fail "report 0 is not 2038-01-01 07:00"
      "$inspect" --record 999 "$history" | grep -q '  0  (not set)' ||
        fail "report 999 (2038-02-11, past the signed 32-bit seconds) is not stored as 0"
    fi
    ;;
  same-as-host)
    host_tool=${3:?usage: device_test.sh same-as-host TOOL HOST_TOOL [SAMPLE_GENERATOR]}
    generator=${4:-}
    if [ ! -f "$host_tool" ]; then
      echo "SKIP: no host tool at $host_tool (build the host preset first)"
      exit 77
    fi
    compare_with_host "$scratch/legacy" fixed
    # A full device from the sample generator: 1000-record reports of every
    # module kind, hourly timestamps across the daylight-saving changes.
    if [ -n "$generator" ] && [ -x "$generator" ]; then
      "$generator" --seed 7 "$scratch/generated" >/dev/null
      compare_with_host "$scratch/generated" generated
    else
      echo "no sample generator at '${generator}': compared on the fixed sample only"
    fi
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 1
    ;;
esac

end_device_test "$case_name"
