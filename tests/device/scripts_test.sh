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
  text=${text//@scratch/$scratch}
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
# The rehearsal's options, parsed once for ./run rehearse, tools/rehearse.sh
# and tools/fleet.sh: accepted forms reach the checks that follow parsing.
./run rehearse -h | 0 | usage: ./run rehearse [OPTION...] BACKUP...
tools/rehearse.sh --help | 0 | --rollback  after the migration, roll the device back
tools/fleet.sh --help | 0 | tools/fleet.sh [OPTION...] TOOL INSPECT [BACKUP...]
tools/rehearse.sh --zone=../x /bin/true /bin/true backup | 2 | rehearse.sh: not a zone name: ../x
tools/rehearse.sh /bin/true /bin/true backup --keep --zone ../x | 2 | not a zone name: ../x
tools/rehearse.sh --keep -- -tool inspect backup | 2 | no tool at -tool
tools/fleet.sh --jobs=2 --keep --out @scratch/o tool inspect | 2 | fleet.sh: no backups to rehearse
tools/fleet.sh --jobs 2 --zone=Europe/Vienna --baseline=@scratch/none /bin/true inspect b | 2 | no baseline tool at @scratch/none
tools/fleet.sh --all=@scratch/none tool inspect | 2 | --all: no folder @scratch/none
./run rehearse --jobs=2 --into=dir backup | 2 | --into is for one backup
./run rehearse --zone Europe/Vienna --keep --host | 2 | ./run rehearse: no BACKUP given
tools/fleet.sh --rollback --jobs=2 --out @scratch/o2 tool inspect b | 2 | fleet.sh: no tool at tool
# Refused, naming what is wrong.
tools/rehearse.sh --bogus | 2 | unknown option --bogus
tools/rehearse.sh -x tool inspect backup | 2 | unknown option -x
tools/rehearse.sh --keep=yes tool inspect backup | 2 | --keep takes no value
tools/rehearse.sh --zone= tool inspect backup | 2 | --zone wants a value
tools/rehearse.sh tool inspect backup --json | 2 | --json wants a value
tools/rehearse.sh tool inspect | 2 | wants TOOL INSPECT BACKUP, given: tool inspect
tools/rehearse.sh --jobs 2 tool inspect backup | 2 | --jobs is for a batch
tools/fleet.sh --jobs=0 tool inspect b | 2 | --jobs wants a number above 0: 0
tools/fleet.sh --jobs -1 tool inspect b | 2 | --jobs wants a number above 0: -1
tools/fleet.sh --jobs=2x tool inspect b | 2 | --jobs wants a number above 0: 2x
tools/fleet.sh --jobs 100000 tool inspect b | 2 | --jobs wants at most 99999 jobs: 100000
tools/fleet.sh --json=f tool inspect b | 2 | --json is for one backup
tools/fleet.sh --host tool inspect b | 2 | --host is an option of ./run rehearse only
tools/fleet.sh --jobs 2 tool | 2 | wants TOOL INSPECT [BACKUP...], given: tool
./run rehearse --jobs=0 backup | 2 | --jobs wants a number above 0: 0
./run rehearse --json out.json a b | 2 | --json is for one backup
ROWS
[ -f "$scratch/busy/file" ] || { echo "FAIL: campaign.sh emptied a folder it did not make" && failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "scripts: pass"
[ "$failures" -eq 0 ]
