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

begin_device_test() {
  [ -f "$1" ] || {
    echo "no tool at $1" >&2
    exit 1
  }
  "$sandbox" check || exit $?
  scratch=$(mktemp -d /tmp/sav3-device-test.XXXXXX)
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

# snapshot ROOT [FOLDER...]: every name, type, mode and content under the
# device's folders (usr and mnt when none are named).
snapshot() {
  local root=$1
  shift
  [ $# -gt 0 ] || set -- usr mnt
  # A missing folder is simply absent from the listing.
  (cd "$root" && { find "$@" -printf '%y %m %p %l\n' 2>/dev/null || true; } | LC_ALL=C sort &&
    { find "$@" -type f -exec sha256sum {} + 2>/dev/null || true; } | LC_ALL=C sort -k2)
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
  if ! diff <(tail -n "+$first" "$here/expected_commands.txt" | head -n "$2") "$1/sandbox/commands.log" \
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
# commands issued, exactly; LIST numbers the expected commands ("1-26,28").
expect_commands() {
  local what=$1 root=$2 expected
  case $3 in
    none) expected=$(:) ;;
    all) expected=$(cat "$here/expected_commands.txt") ;;
    without-find) expected=$(grep -v '^find /usr/sav2/' "$here/expected_commands.txt") ;;
    opening) expected=$(head -n 26 "$here/expected_commands.txt") ;;
    *) expected=$(awk -v list="$3" 'BEGIN {
           n = split(list, range, ",")
           for (i = 1; i <= n; i++) { m = split(range[i], end, "-"); for (j = end[1]; j <= end[m]; j++) want[j] = 1 }
         } want[NR]' "$here/expected_commands.txt") ;;
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

# Everything of the sandbox's root but the three trees the tool replaces:
# what a run must never touch apart from the old programs in /mnt/2.
outside() {
  snapshot "$1" mnt/1 mnt/data bin etc sbin
  ls -A "$1/usr" 2>&1 || true
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
  diff -r -x '.migration*' "$staging" "$sav" >"$scratch/sav.diff" 2>&1 || {
    fail "$what: /usr/sav is not the staging tree:"
    head "$scratch/sav.diff"
  }
  local extra
  diff -r -x '.migration*' "$staging" "$sav2" >"$scratch/sav2.diff" 2>&1 || true
  extra=$(sed -n "s|^Only in $sav2: ||p" "$scratch/sav2.diff" | LC_ALL=C sort)
  if grep -v "^Only in $sav2: " "$scratch/sav2.diff" | grep -q .; then
    fail "$what: /usr/sav2 differs from the staging tree:"
    head "$scratch/sav2.diff"
  fi
  [ "$extra" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] ||
    fail "$what: /usr/sav2 holds beside the staging tree: $(echo "$extra" | tr '\n' '|'), not $(printf '%s|' "$@")"
}
