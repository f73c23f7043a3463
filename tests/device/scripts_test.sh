#!/usr/bin/env bash
# The project's scripts and entry points answer -h/--help with their usage
# (status 0) and refuse what they cannot use with status 2, before they make
# or start anything: one row per case, "COMMAND ARGS | EXIT | TEXT", TEXT a
# part of what the command printed (either stream).
#
#   scripts_test.sh
#
# Exit 0 pass, 1 fail.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$top" || exit 1
failures=0
scratch=$(mktemp -d /tmp/sav3-scripts-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/busy" && touch "$scratch/busy/file"
while IFS='|' read -r command status text; do
  case $command in '#'* | '') continue ;; esac
  read -ra words <<<"${command//@scratch/$scratch}"
  text=${text# }
  got=0
  out=$(timeout 60 "${words[@]}" </dev/null 2>&1) || got=$?
  if [ "$got" != "${status// /}" ] || [[ $out != *"$text"* ]]; then
    echo "FAIL: $command: status $got (not${status}), output: $(printf '%s' "$out" | head -n 3)"
    failures=$((failures + 1))
  fi
done <<'ROWS'
./run -h | 0 | usage: ./run demo
./run --help | 0 | ./run rehearse
./run bogus | 2 | usage: ./run
scripts/sandbox.sh --help | 0 | sandbox.sh create
scripts/sandbox.sh -h | 0 | sandbox.sh run
scripts/sandbox.sh bogus | 1 | usage: sandbox.sh
scripts/board/board.sh --help | 0 | board.sh boot
scripts/board/campaign.sh -h | 0 | --jobs N
scripts/board/campaign.sh --help | 0 | usage: campaign.sh
scripts/board/campaign.sh --jobs 0 tool legacy @scratch/w | 2 | --jobs wants a number above 0: 0
scripts/board/campaign.sh --jobs=3 tool legacy @scratch/w | 2 | at most 2 boards at a time
scripts/board/campaign.sh --jobs x tool legacy @scratch/w | 2 | --jobs wants a number above 0: x
scripts/board/campaign.sh --bogus tool legacy @scratch/w | 2 | unknown option --bogus
scripts/board/campaign.sh tool legacy @scratch/busy | 2 | neither empty nor a campaign's folder
scripts/board/campaign.sh tool legacy / | 2 | refusing WORK /
tools/rehearse.sh -h | 0 | usage: rehearse.sh
tools/rehearse.sh --zone=../x tool inspect backup | 2 | no tool at tool
tools/rehearse.sh --bogus | 2 | usage: rehearse.sh
tools/fleet.sh --help | 0 | usage: fleet.sh
tools/fleet.sh --jobs=0 tool inspect b | 2 | --jobs wants a number above 0: 0
tools/fleet.sh --jobs -1 tool inspect b | 2 | --jobs wants a number above 0: -1
tools/fleet.sh --jobs 2 tool | 2 | usage: fleet.sh
ROWS
[ -f "$scratch/busy/file" ] || { echo "FAIL: campaign.sh emptied a folder it did not make" && failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "scripts: pass"
[ "$failures" -eq 0 ]
