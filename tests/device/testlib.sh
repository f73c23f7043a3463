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
