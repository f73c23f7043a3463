# Sourced by the end-to-end test scripts: a scratch folder that is removed
# when every check passed and kept (and named) when one failed, and fail() to
# count a failed check.
#
#   . scratch.sh NAME   sets $scratch (/tmp/sav3-NAME.XXXXXX) and $failures
scratch=$(mktemp -d "/tmp/sav3-$1.XXXXXX")
failures=0
cleanup_scratch() {
  if [ "$failures" -ne 0 ]; then echo "scratch folder kept in $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup_scratch EXIT
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
