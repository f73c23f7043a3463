#!/usr/bin/env bash
# Checks headed record files: magic 0x88, byte 28 zero, header checksum (the
# 30 header bytes sum to 0 mod 256), payload checksum (payload bytes plus
# byte 1 sum to 0 mod 256) and length 30 + size x count.
#
#   headed_check.sh FILE...   prints "FILE size S count C" per valid file,
#                             "FILE: PROBLEM" per invalid one; exit 1 if any.
set -uo pipefail

status=0
for file in "$@"; do
  problem=$(od -An -v -tu1 "$file" 2>/dev/null | awk -v len="$(stat -c %s "$file" 2>/dev/null || echo -1)" '
    BEGIN { n = 0; payload = 0 }
    { for (i = 1; i <= NF; i++) { b[n] = $i; if (n >= 30) payload += $i; n++ } }
    END {
      if (len < 0) { print "cannot be read"; exit }
      if (n < 30) { print "shorter than the 30-byte header (" n " bytes)"; exit }
      head = 0; for (i = 0; i < 30; i++) head += b[i]
      size = b[2] + 256 * (b[3] + 256 * (b[4] + 256 * b[5]))
      count = b[6] + 256 * (b[7] + 256 * (b[8] + 256 * b[9]))
      if (b[0] != 136) print "magic " b[0] " is not 0x88"
      else if (b[28] != 0) print "byte 28 is " b[28] ", not 0"
      else if (head % 256 != 0) print "header checksum does not match"
      else if ((payload + b[1]) % 256 != 0) print "payload checksum does not match"
      else if (n != 30 + size * count) print "length " n " is not 30 + " size " x " count
      else print "ok " size " " count
    }')
  case $problem in
    ok\ *)
      set -- $problem
      echo "$file size $2 count $3"
      ;;
    *)
      echo "$file: $problem"
      status=1
      ;;
  esac
done
exit $status
