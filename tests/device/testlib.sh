# shellcheck shell=bash
# Shared by the device test scripts (sourced; `here` is their folder): the
# scratch folder, failure counting and the snapshots of a sandbox's trees.
#
# begin_device_test TOOL   fail without TOOL; skip (77) where no sandbox can
#                     be made; else make the scratch folder $scratch and the
#                     sample legacy device in $scratch/legacy. A failing test
#                     keeps the scratch folder, and so does SAV3_KEEP_SANDBOX=1.
# end_device_test NAME   report and exit: 0 pass, 1 fail.

sandbox=${here:?}/../../scripts/sandbox.sh
failures=0

# The golden command texts of a full run, in order: the opening commands,
# then the replacement commands. The replacement begins with the command that
# empties /usr/sav (the whole line "rm -rf /usr/sav/*"): no command before it
# changes a live tree (they only read /usr/sav), every one from it on does.
# A resume issues the replacement commands only.
commands_file=$here/expected_commands.txt
command_count=$(grep -c '' "$commands_file")
opening_count=$(grep -nxF -m1 'rm -rf /usr/sav/*' "$commands_file" | cut -d: -f1)
[ -n "$opening_count" ] || {
  echo "no replacement command in $commands_file" >&2
  exit 1
}
opening_count=$((opening_count - 1))
# shellcheck disable=SC2034 # for the scripts that source this
replacement_count=$((command_count - opening_count))

# command_number N | opening | last | rN: the number of a command in a full
# run: N itself, the last opening command, the last command, or the Nth
# replacement command (r1 empties /usr/sav).
command_number() {
  case $1 in
    opening) echo "$opening_count" ;;
    last) echo "$command_count" ;;
    r[1-9] | r[1-9][0-9]) echo $((opening_count + ${1#r})) ;;
    [1-9] | [1-9][0-9]) echo "$1" ;;
    *)
      echo "not a command number: $1" >&2
      echo x
      ;;
  esac
}

# cut_point POINT: a point of `sandbox.sh run --cut` (before:N, after:N,
# half:N) with its command as command_number takes it ("half:r2").
cut_point() { echo "${1%%:*}:$(command_number "${1#*:}")"; }

begin_device_test() {
  [ -f "$1" ] || {
    echo "no tool at $1" >&2
    exit 1
  }
  "$sandbox" check || exit $?
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/sav3-device-test.XXXXXX")
  trap cleanup EXIT
  "$here/sample_legacy.sh" "$scratch/legacy"
}

cleanup() {
  local status=$?
  if [ "$status" -ne 0 ] || [ "$failures" -ne 0 ] || [ "${SAV3_KEEP_SANDBOX:-0}" = 1 ]; then
    echo "scratch folders kept in $scratch"
  else
    rm -rf "$scratch"
  fi
}

end_device_test() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "PASS: $1"
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || fail "$what"
}

# make_device NAME TOOL: a sandbox holding the sample legacy device.
make_device() { "$sandbox" create "$scratch/$1" "$2" "$scratch/legacy"; }

# snapshot ROOT [FOLDER...]: every name, type, mode, owner and content under
# the device's folders (usr and mnt when none are named). A file of 64 MiB or
# more (a sparse file of gigabytes) is listed with its size instead of its
# digest.
snapshot() {
  local root=$1
  shift
  [ $# -gt 0 ] || set -- usr mnt
  # A missing folder is simply absent from the listing.
  (cd "$root" && { find "$@" -printf '%y %m %U:%G %p %l\n' 2>/dev/null || true; } | LC_ALL=C sort &&
    { find "$@" -type f -size -64M -exec sha256sum {} + 2>/dev/null || true; } | LC_ALL=C sort -k2 &&
    { find "$@" -type f -size +64M -printf 'large %s %p\n' 2>/dev/null || true; } | LC_ALL=C sort -k3)
}

# The live trees only: every name, type, mode and content under /usr/sav and
# /usr/sav2.
live_snapshot() { snapshot "$1" usr/sav usr/sav2; }

# The tool itself prints nothing and exits 0, whatever its commands print.
check_quiet_exit() {
  local box=$1/sandbox
  [ "$(cat "$box/tool.status")" = 0 ] || fail "exit status $(cat "$box/tool.status"), not 0"
  [ ! -s "$box/tool.out" ] || fail "the tool printed on stdout: $(head -c 200 "$box/tool.out")"
  [ ! -s "$box/tool.err" ] || fail "the tool printed on stderr: $(head -c 200 "$box/tool.err")"
}

# check_commands ROOT COUNT [FIRST]: the expected commands FIRST (1) to
# FIRST+COUNT-1, exactly.
check_commands() {
  local first=${3:-1}
  if ! diff <(tail -n "+$first" "$commands_file" | head -n "$2") "$1/sandbox/commands.log" \
    >"$scratch/commands.diff" 2>&1; then
    fail "the commands issued are not the expected $first to $((first + $2 - 1)):"
    cat "$scratch/commands.diff"
  fi
}

# The first line of the state file ("none" without one).
state_of() { head -n 1 "$1/usr/sav3/.migration" 2>/dev/null || echo none; }

# The sample device as `make_device template` made it, copied to NAME.
fresh() { rm -rf "${scratch:?}/$1" && cp -a "$scratch/template" "$scratch/$1"; }

# device_path ROOT PATH: where the device path PATH resolves inside the root
# (every link on the way, as the device would follow it), as a path of this
# machine; the path itself when it does not resolve.
device_path() { echo "$1$(chroot "$1" /bin/busybox realpath "$2" 2>/dev/null || echo "$2")"; }

# expect_log WHAT ROOT LINE...: the tool logged exactly these lines; a LINE
# beginning with "~" is an extended regular expression for the whole line.
expect_log() {
  local what=$1 root=$2 i=0 line logged=()
  shift 2
  mapfile -t logged < <(cat "$root/sandbox/tool.log" 2>/dev/null)
  local expected=()
  for line in "$@"; do
    if [ "${line:0:1}" = "~" ] && [[ ${logged[i]-} =~ ^${line:1}$ ]]; then line=${logged[i]}; fi
    expected+=("$line")
    i=$((i + 1))
  done
  if ! diff <([ $# -eq 0 ] || printf '%s\n' "${expected[@]}") "$root/sandbox/tool.log" >"$scratch/log.diff"; then
    fail "$what: log lines differ (< expected, > logged):"
    cat "$scratch/log.diff"
  fi
}

# expect_commands WHAT ROOT none | all | without-find | opening | LIST: the
# commands issued, exactly; LIST numbers the expected commands as
# command_number does, in ranges ("1-opening,r2", "1-r1,r3-last", "1-26,28").
expect_commands() {
  local what=$1 root=$2 expected range ranges list=""
  case $3 in
    none) expected=$(:) ;;
    all) expected=$(cat "$commands_file") ;;
    without-find) expected=$(grep -v '^find /usr/sav2/' "$commands_file") ;;
    opening) expected=$(head -n "$opening_count" "$commands_file") ;;
    *)
      IFS=, read -ra ranges <<<"$3"
      for range in "${ranges[@]}"; do list+="$(command_number "${range%%-*}")-$(command_number "${range##*-}"),"; done
      [[ $list != *x* ]] || fail "$what: '$3' is not a list of command numbers"
      expected=$(awk -v list="$list" 'BEGIN {
           n = split(list, range, ",")
           for (i = 1; i < n; i++) { split(range[i], end, "-"); for (j = end[1] + 0; j <= end[2] + 0; j++) want[j] = 1 }
         } want[NR]' "$commands_file")
      ;;
  esac
  if ! diff <(printf '%s' "$expected" | grep . || true) <(cat "$root/sandbox/commands.log" 2>/dev/null || true) \
    >"$scratch/commands.diff"; then
    fail "$what: commands differ from '$3' (< expected, > issued):"
    cat "$scratch/commands.diff"
  fi
}

expect_state() { [ "$(state_of "$2")" = "$3" ] || fail "$1: state '$(state_of "$2")', not '$3'"; }

# expect_same WHAT BEFORE AFTER: two snapshots are equal.
expect_same() {
  diff "$2" "$3" >"$scratch/same.diff" || {
    fail "$1:"
    head -n 20 "$scratch/same.diff"
  }
}

# Everything of the sandbox's root but the three trees the tool replaces and
# the old programs that the opening commands remove from /mnt/2: what a run
# must never touch. (The sandbox's own folders are left out.)
removed_programs=$(sed -n 's|^rm  *\(/mnt/2/[^ ]*\)$|\1|p' "$commands_file")
outside() {
  local folders=() name
  for name in "$1"/* "$1"/usr/*; do
    case ${name#"$1"/} in proc | dev | sandbox | usr | usr/sav | usr/sav2 | usr/sav3) ;; *) folders+=("${name#"$1"/}") ;; esac
  done
  snapshot "$1" "${folders[@]}" | grep -Ev "(^| )($(echo "$removed_programs" | sed 's|^/||' | paste -sd'|'))( |\$)"
  # The trees themselves are the tool's (a missing live tree is made).
  ls -A "$1/usr" 2>&1 | grep -Evx 'sav|sav2|sav3' || true
}

# expect_replaced WHAT ROOT [NAME...]: /usr/sav is the staging tree; /usr/sav2
# is the staging tree and the top-level entries NAME. The trees are compared
# where they resolve on the device (a tree may be a link to a folder).
expect_replaced() {
  local what=$1 root=$2 staging sav sav2
  shift 2
  staging=$(device_path "$root" /usr/sav3)
  sav=$(device_path "$root" /usr/sav)
  sav2=$(device_path "$root" /usr/sav2)
  diff -r -x '.migration*' -x .before "$staging" "$sav" >"$scratch/sav.diff" 2>&1 || {
    fail "$what: /usr/sav is not the staging tree:"
    head "$scratch/sav.diff"
  }
  local extra
  diff -r -x '.migration*' -x .before "$staging" "$sav2" >"$scratch/sav2.diff" 2>&1 || true
  extra=$(sed -n "s|^Only in $sav2: ||p" "$scratch/sav2.diff" | LC_ALL=C sort)
  if grep -v "^Only in $sav2: " "$scratch/sav2.diff" | grep -q .; then
    fail "$what: /usr/sav2 differs from the staging tree:"
    head "$scratch/sav2.diff"
  fi
  [ "$extra" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] ||
    fail "$what: /usr/sav2 holds beside the staging tree: $(echo "$extra" | tr '\n' '|'), not $(printf '%s|' "$@")"
}

# The log line of a full run that kept its before-image (as expect_log takes
# a pattern), right before its first command.
# shellcheck disable=SC2034 # for the scripts that source this
image_line='~user\.notice before-image kept: [0-9]+ entries, [0-9]+ files linked, [0-9]+ copied \([0-9]+ bytes\)'

# What an undo must give back: every entry under /usr/sav, /usr/sav2,
# /usr/sav3 and /mnt/2, by name and where each resolves on the device (a tree
# may be a link to a folder elsewhere), without the tool's own dot entries of
# the staging folder (its state and the before-image).
undo_snapshot() {
  local root=$1 tree path folders=(usr/sav usr/sav2 usr/sav3 mnt/2) staging
  for tree in /usr/sav /usr/sav2 /usr/sav3 /mnt/2; do
    path=$(device_path "$root" "$tree")
    [[ " ${folders[*]} " == *" ${path#"$root"/} "* ]] || folders+=("${path#"$root"/}")
  done
  staging=$(device_path "$root" /usr/sav3)
  local own=" ${staging#"$root"/}/\.(migration[^/ ]*|before)(/| |\$)"
  {
    snapshot "$root" "${folders[@]}"
    # The names that are one file (with its link count), and device numbers.
    (cd "$root" && find "${folders[@]}" -type f -links +1 -printf '%i %n %p\n' 2>/dev/null | grep -Ev "$own" | LC_ALL=C sort -k3 |
      awk '{ names[$1] = names[$1] " " $3; links[$1] = $2 } END { for (i in names) print "one file, " links[i] " links:" names[i] }' &&
      find "${folders[@]}" \( -type c -o -type b \) -exec stat -c 'device %t:%T %n' {} + 2>/dev/null) | LC_ALL=C sort
  } | grep -Ev "$own" || true
}

# undo_extras (in a device root): the kinds of entry an undo must put back
# that the sample device lacks: old programs of other modes, owners and kinds,
# earlier entries of the staging folder, dot entries, /usr/sav2's update_log (which the
# copy writes into in place) and an "update" entry no copy writes into, files
# with two links (within a tree and across two), FIFOs, a device node, owners
# and modes other than the usual.
undo_extras() {
  chmod 755 mnt/2/tools/tcpclientremote
  chown 1000:1000 mnt/2/tools/tcpclient_psia && chmod 750 mnt/2/tools/tcpclient_psia
  ln -sf sysver mnt/2/tools/lanudpclient
  mkdir -p usr/sav3/olddir/sub && echo 'an earlier staging file' >usr/sav3/olddir/sub/f
  chmod 700 usr/sav3/olddir/sub && chown -R 1001:1002 usr/sav3/olddir
  ln -s ../sav/update_log usr/sav3/oldlink && mkfifo -m 600 usr/sav3/pipe
  printf 'the old second log\n' >usr/sav2/update_log && chown 1003:1003 usr/sav2/update_log
  mkdir usr/sav2/update_spare && echo spare >usr/sav2/update_spare/notes && chown -R 1004:1004 usr/sav2/update_spare
  ln usr/sav/data/userlogindata.txt usr/sav/data/logins.bak && ln usr/sav/cfg/oldsetting usr/sav2/oldsetting
  chown 1005:1006 usr/sav/cfg/oldsetting && chmod 640 usr/sav/cfg/oldsetting
  mkfifo usr/sav/cfg/pipe && mknod usr/sav2/olddir/null c 1 3 && chmod 2775 usr/sav2/olddir
  ln -s /mnt/1/cfg usr/sav2/cfglink && chown -h 1007:1007 usr/sav2/cfglink
  echo dot >usr/sav/.profile && echo dot >usr/sav2/.dotfile && echo dot >usr/sav3/.keep
}

# expect_undone WHAT ROOT BEFORE: an undo ended well: the state "rolled back",
# no before-image (where the staging folder resolves on the device), every
# entry as in the undo snapshot BEFORE.
expect_undone() {
  local staging state
  staging=$(device_path "$2" /usr/sav3)
  state=$(head -n 1 "$staging/.migration" 2>/dev/null || echo none)
  [ "$state" = "rolled back" ] || fail "$1: state '$state', not 'rolled back'"
  [ ! -e "$staging/.before" ] || fail "$1: the before-image is still there"
  undo_snapshot "$2" >"$scratch/undone"
  expect_same "$1: not every entry is back as it was (< before the migration, > after the undo)" "$3" \
    "$scratch/undone"
}
