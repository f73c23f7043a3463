#!/usr/bin/env bash
# Power cuts on the virtual board (board.sh), with the host deciding where:
# each cut is one boot of a fresh copy of the device's disks that ends at the
# cut, then boots without a cut until the start-up has written the marker
# (at most 5). The trees that the last boot lists must equal the uncut run's
# (same layout, same setting, same legacy device), the state file included,
# and the disks must pass fsck.
#
#   campaign.sh [OPTION...] TOOL LEGACY WORK
#     LEGACY is a folder laid out like the device, or a script that makes one
#     in the folder it is given (tests/device/sample_legacy.sh); WORK is
#     emptied and holds the boards (a cut's board stays when it fails).
#     --layout ext4|split|f2fs   (default ext4)
#     --setting 1|2              the kernel's settings (board.sh; default 1)
#     --cuts N                   how many cuts (default 100): every fixed
#                                point below first in a seeded order, then
#                                random instants
#     --seed S                   (default 1)
#     --short                    the CI set: after `rm -rf /usr/sav/*`,
#                                half-way through the first copy, two random
#                                instants, one in a resume, one three commit
#                                intervals after "done", one in the undo
#                                (undo/cleared), and the proof
#     --rollback                 the undo's cut points only: after each of
#                                its phases, three commit intervals after
#                                it ended, one in a resumed undo, then
#                                random instants up to --cuts; and its
#                                proof (setting 2)
#     --proof                    the no-flush proof only (the run's and the
#                                undo's)
#     --points P,P...            these cut points only (in this order)
#   The proof: the tool with its flushes doing nothing (noflush/ before the
#   point), cut three commit intervals after "pending" and after "done"; it
#   holds when at least one of those cuts ends other than the uncut run. The
#   undo's: cut three commit intervals after the undo ended; it holds when
#   that cut ends other than the uncut undo or the boot after it finds a
#   state other than "rolled back" (the undo's work lost: a cut after the
#   undo with flushes must find it).
#     --jobs N                   boards at a time (default 2, at most 2:
#                                more is refused, not cut down)
#     -h, --help                 this text
#   Options also take the form --name=VALUE; "--" ends them.
#
# Cut points (one per boot, "+" between boots):
#   before:N, after:N   the tool's Nth command (the logging shell)
#   half:N              half-way through a replacement command
#   pending, done       when the state is written (before the first
#                       replacement command; when the tool has ended)
#   POINT@D             the same, cut D seconds of board time later
#   random:T            the board resets itself T seconds after the tool's
#                       start (sysrq b), seeded; when the tool ended first,
#                       again at T/2 ("random:T>T/2")
#   undo/P+P...         a cut in the undo: on the uncut run's disks (state
#                       "done", the marker written), boots that roll back
#                       (board.sh boot --rollback), P one of state,
#                       cleared, restored, checked, written, deleted (after
#                       that phase of `sav3-migrate --rollback`: startup),
#                       end (when it has ended), with @D, or random:T
#                       within the uncut undo
# An undo's cut passes when its last boot ends "rolled back", `--rollback`
# again says "already rolled back", every entry of /usr/sav, /usr/sav2,
# /usr/sav3 (but the state file) and /mnt/2 is listed as it was before the
# uncut run's first boot, and the disks pass fsck.
# Prints one line per cut: point, state after the cut, boots to "done",
# result; then a summary. Exit 0 when every cut passes (--proof: when at
# least one differs), 1 otherwise, 77 when this machine cannot run the board.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
board=$here/board.sh
layout=ext4 setting=1 cuts=100 seed=1 mode=campaign jobs=2
usage_line="usage: campaign.sh [--layout L] [--setting 1|2] [--cuts N] [--seed S] [--short|--rollback|--proof|--points P,P...] [--jobs N] TOOL LEGACY WORK"
while [ $# -gt 0 ]; do
  # --name=VALUE is --name VALUE.
  case $1 in --*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;; esac
  case $1 in
    -h | --help)
      echo "$usage_line"
      sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}"
      exit 0
      ;;
    --layout | --setting | --cuts | --seed | --jobs | --points)
      [ $# -ge 2 ] || { echo "campaign.sh: $1 wants a value" >&2 && exit 2; }
      case $1 in
        --layout) layout=$2 ;;
        --setting) setting=$2 ;;
        --cuts) cuts=$2 ;;
        --seed) seed=$2 ;;
        --jobs) jobs=$2 ;;
        --points) mode=points given=$2 ;;
      esac
      shift
      ;;
    --short) mode=short ;;
    --rollback) mode=rollback ;;
    --proof) mode=proof ;;
    --) shift && break ;;
    -*) echo "campaign.sh: unknown option $1" >&2 && echo "$usage_line" >&2 && exit 2 ;;
    *) break ;;
  esac
  shift
done
[ $# -eq 3 ] || { echo "$usage_line" >&2 && exit 2; }
tool=$1 legacy=$2 work=$3
case $cuts$seed in *[!0-9]* | "") echo "--cuts and --seed take numbers" >&2 && exit 2 ;; esac
case $jobs in
  1 | 2) ;;
  *[!0-9]* | "" | 0) echo "campaign.sh: --jobs wants a number above 0: $jobs" >&2 && exit 2 ;;
  *) echo "campaign.sh: --jobs $jobs: at most 2 boards at a time (two emulators fill the build machine)" >&2 && exit 2 ;;
esac
# WORK is emptied: only when it is absent, empty or a campaign's own.
case $work in "" | / | /*/.. | . | ..) echo "campaign.sh: refusing WORK $work" >&2 && exit 2 ;; esac
if [ -e "$work" ] && [ -n "$(ls -A "$work" 2>/dev/null)" ] && [ ! -f "$work/.sav3-campaign" ]; then
  echo "campaign.sh: $work is neither empty nor a campaign's folder: not emptied" >&2
  exit 2
fi
"$board" check || exit $?

# Three intervals of the file system's commit (ext4's journal) or
# checkpoint (f2fs) under the setting.
case $layout:$setting in
  f2fs:1) wait3=180 ;;
  *:1) wait3=15 ;;
  *) wait3=3 ;;
esac

rm -rf "$work"
mkdir -p "$work"
touch "$work/.sav3-campaign"
if [ -f "$legacy" ]; then
  "$legacy" "$work/legacy"
  legacy=$work/legacy
fi
"$board" make "$work/pristine" "$layout" "$tool" "$legacy" >/dev/null

# fresh NAME [FROM]: a board with the pristine disks (or FROM's: migrated).
fresh() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1"
  cp --sparse=always "$work/${2:-pristine}"/disk*.img "$work/pristine/layout" "$work/pristine/boots" "$work/$1/"
}

# The trees an undo must give back: the listing but the state file and
# what lies outside /usr/sav* and /mnt/2 (the marker).
undone() { awk '$2 != "/usr/sav3/.migration" && ($2 ~ /^\/usr\/sav/ || $2 ~ /^\/mnt\/2(\/|$)/)'; }

# finish NAME RUN [--rollback]: boots without a cut until one has written
# the marker or found it (an undo's: until one ends "rolled back"); prints
# the number of those boots, or fails. A boot that leaves the trees as the
# boot before it did, without the marker, is stuck: the next would do the
# same.
finish() {
  local name=$1 run=$2 n=0 outcome last end='^sav3-board: marker (written|present)'
  [ -z "${3:-}" ] || end="^sav3-board: undo ends: .*, state 'rolled back'"
  while [ $n -lt 5 ]; do
    n=$((n + 1))
    outcome=$("$board" boot --setting "$setting" --run "$run" ${3:+"$3"} "$work/$name")
    [ "$outcome" = off ] || {
      echo "boot $n: $outcome"
      return 1
    }
    last=$(cat "$work/$name/boots")
    if tr -d '\r' <"$work/$name/console.$last" | grep -E "$end" >/dev/null; then
      echo "$n"
      return 0
    fi
    if [ $n -gt 1 ] && cmp -s <("$board" listing "$work/$name" $((last - 1))) <("$board" listing "$work/$name" "$last"); then
      echo "stuck: boot $n changed nothing, ${3:+not rolled back}${3:-no marker}"
      return 1
    fi
  done
  echo "no marker after 5 boots"
  return 1
}

# The uncut run: a boot that migrates, a boot that does nothing; both list
# the same trees. Its tool's duration in board time bounds the random cuts.
echo "uncut run ($layout, setting $setting)"
fresh uncut
# Its first boot lists the trees before the tool runs too: what an undo
# gives back.
outcome=$("$board" boot --setting "$setting" --list-first "$work/uncut")
if [ "$outcome" != off ] || ! tr -d '\r' <"$work/uncut/console.1" | grep '^sav3-board: marker written' >/dev/null; then
  echo "FAIL: the uncut run: the boot ended $outcome without the marker"
  exit 1
fi
outcome=$("$board" boot --setting "$setting" "$work/uncut")
"$board" listing "$work/uncut" 1 >"$work/uncut.listing"
"$board" listing "$work/uncut" 1 before | undone >"$work/before.listing"
"$board" listing "$work/uncut" >"$work/uncut.again"
if [ "$outcome" != off ] || ! cmp -s "$work/uncut.listing" "$work/uncut.again" || [ ! -s "$work/uncut.listing" ] ||
  ! grep -q '^F /usr/sav3/\.migration ' "$work/uncut.listing" ||
  ! cat "$work"/uncut/console.* | tr -d '\r' | grep "^sav3-board: tool ends: status 0, state 'done'" >/dev/null ||
  ! tr -d '\r' <"$work/uncut/console.2" | grep '^sav3-board: marker present' >/dev/null || [ ! -s "$work/before.listing" ]; then
  echo "FAIL: the uncut run did not reach 'done', or the reboot after it changed the trees"
  exit 1
fi
"$board" fsck "$work/uncut" || {
  echo "FAIL: fsck after the uncut run"
  exit 1
}
duration=$(tr -d '\r' <"$work/uncut/console.1" | awk '
  /^sav3-board: tool starts/ { sub(/.*t=/, ""); sub(/\).*/, ""); start = $0 }
  /^sav3-board: tool ends/ { sub(/.*t=/, ""); sub(/\).*/, ""); print $0 - start }')
echo "uncut: state done, $(grep -c . "$work/uncut.listing") paths listed, the reboot changes nothing;" \
  "the tool ran ${duration}s of board time"

# random_instants COUNT [DURATION PREFIX]: seeded instants within the
# tool's run (or another's).
random_instants() {
  # From 0.05 s to 0.05 s before the end; within a run shorter than 0.15 s
  # (an undo of a small device), from 0.01 s to 0.01 s before its end.
  awk -v n="$1" -v seed="$seed" -v d="${2:-$duration}" -v prefix="${3:-}" 'BEGIN {
    srand(seed); m = d >= 0.15 ? 0.05 : 0.01; span = d > 2 * m ? d - 2 * m : 0
    for (i = 0; i < n; i++) printf "%srandom:%.2f\n", prefix, m + rand() * span }'
}

# The commands' numbers, from the golden list of the command texts: all of
# them, and the first replacement command (the one that empties /usr/sav).
commands=$here/../../tests/device/expected_commands.txt
total=$(grep -c . "$commands")
r1=$(grep -nxF 'rm -rf /usr/sav/*' "$commands" | cut -d: -f1)
[ -n "$r1" ] && [ "$total" -gt "$r1" ] || { echo "campaign: no replacement command in $commands" >&2; exit 2; }
r2=$((r1 + 1)) r3=$((r1 + 2)) r4=$((r1 + 3))

case $mode in
  short)
    mapfile -t points < <(echo "after:$r1" && echo "half:$r3" && random_instants 2 && echo "after:$r1+half:2" &&
      echo "done@$wait3" && echo "undo/cleared" && echo "noflush/pending@$wait3" && echo "noflush/done@$wait3")
    ;;
  proof)
    points=("noflush/pending@$wait3" "noflush/done@$wait3" "noflush/undo/end@$wait3")
    ;;
  rollback)
    points=(undo/state undo/cleared undo/restored undo/checked undo/written undo/deleted undo/end "undo/end@$wait3"
      "undo/restored+cleared")
    ;;
  points)
    IFS=, read -ra points <<<"$given"
    ;;
  *)
    fixed=()
    for ((n = 1; n <= total; n++)); do fixed+=("before:$n" "after:$n"); done
    fixed+=("half:$r1" "half:$r2" "half:$r3" "half:$r4" "after:$r1+half:1" "half:$r2+before:1" "half:$r3+half:3"
      "half:$r4+after:4"
      pending "done" "pending@$wait3" "done@$wait3")
    mapfile -t points < <(printf '%s\n' "${fixed[@]}" | awk -v seed="$seed" 'BEGIN { srand(seed) } { print rand(), $0 }' |
      sort -n | cut -d' ' -f2 | head -n "$cuts")
    [ "${#points[@]}" -ge "$cuts" ] || mapfile -t -O "${#points[@]}" points < <(random_instants $((cuts - ${#points[@]})))
    ;;
esac

# The uncut undo, when a cut is in one: on the uncut run's disks, one boot
# that rolls back; its listing must be the one before the uncut run, and its
# duration in board time bounds the undo's random cuts.
if printf '%s\n' "${points[@]}" | grep -q '^\(noflush/\)\{0,1\}undo/'; then
  fresh undone uncut
  outcome=$("$board" boot --setting "$setting" --rollback "$work/undone")
  "$board" listing "$work/undone" | undone >"$work/undone.listing"
  if [ "$outcome" != off ] || ! cmp -s "$work/before.listing" "$work/undone.listing" ||
    ! tr -d '\r' <"$work/undone/console.1" | grep "^sav3-board: undo ends: status 0, state 'rolled back'" >/dev/null ||
    ! tr -d '\r' <"$work/undone/console.1" | grep '^sav3-board: undo again: status 0: .*already rolled back' >/dev/null; then
    echo "FAIL: the uncut undo did not end 'rolled back' with the trees as before the migration" \
      "($(diff "$work/before.listing" "$work/undone.listing" | grep -c '^[<>]' || true) lines differ)"
    exit 1
  fi
  "$board" fsck "$work/undone" || {
    echo "FAIL: fsck after the uncut undo"
    exit 1
  }
  undo_duration=$(tr -d '\r' <"$work/undone/console.1" | awk '
    /^sav3-board: undo starts/ { sub(/.*t=/, ""); sub(/\).*/, ""); start = $0 }
    /^sav3-board: undo ends/ { sub(/.*t=/, ""); sub(/\).*/, ""); print $0 - start }')
  echo "uncut undo: state rolled back, $(grep -c . "$work/before.listing") paths as before the migration;" \
    "the undo ran ${undo_duration}s of board time"
  if [ "$mode" = rollback ]; then
    [ "${#points[@]}" -ge "$cuts" ] ||
      mapfile -t -O "${#points[@]}" points < <(random_instants $((cuts - ${#points[@]})) "$undo_duration" undo/)
    # Under setting 1 the kernel's defaults bring even an undo without
    # flushes to the disk within three commit intervals (the journal's
    # commits, the rename that replaces the state file): only setting 2 can
    # tell a missing flush, as for the run's proof.
    [ "$setting" != 2 ] || points+=("noflush/undo/end@$wait3")
  fi
fi

# one_cut INDEX POINTS: prints the cut's line to $work/result.INDEX.
one_cut() {
  local index=$1 label=$2 name=cut$1 point outcome state boots result run=tool steps=$2 undo="" from=pristine
  case $label in noflush/*) run=noflush steps=${label#noflush/} ;; esac
  # An undo's points are its phases; its boots roll back the migrated disks.
  case $steps in undo/*) undo=--rollback steps=${steps#undo/} from=uncut ;; esac
  fresh "$name" "$from"
  for point in ${steps//+/ }; do
    local options=(--setting "$setting" --run "$run" --timeout 900 ${undo:+"$undo"})
    case $point in
      random:*) options+=(--random "${point#random:}") ;;
      *@*) options+=(--cut "${undo:+undo:}${point%@*}" --delay "${point#*@}") ;;
      *) options+=(--cut "${undo:+undo:}$point") ;;
    esac
    outcome=$("$board" boot "${options[@]}" "$work/$name")
    # The tool's run in board time varies with its waits for the disk: a
    # random instant that it outlived is tried again at half of it, on
    # fresh disks (the line shows the instant that cut).
    while [ "$outcome" = off ] && [ "${point%%:*}" = random ] && [ "$steps" = "$point" ] &&
      awk -v t="${point#random:}" 'BEGIN { exit !(t >= 0.02) }'; do
      point=random:$(awk -v t="${point#random:}" 'BEGIN { printf "%.2f", t / 2 }')
      label=$label\>${point#random:} steps=$point
      fresh "$name" "$from"
      outcome=$("$board" boot --setting "$setting" --run "$run" --timeout 900 ${undo:+"$undo"} --random "${point#random:}" "$work/$name")
    done
    case $outcome in
      cut | reset) ;;
      *)
        echo "$label - - NOT CUT (the boot ended: $outcome)" >"$work/result.$index"
        return
        ;;
    esac
  done
  local after=$(($(cat "$work/$name/boots") + 1)) status=0
  boots=$(finish "$name" "$run" ${undo:+"$undo"}) || status=1
  # The state that the first boot after the cut found.
  state=$(tr -d '\r' <"$work/$name/console.$after" 2>/dev/null | sed -n "s/^sav3-board: start-up, state '\(.*\)'.*/\1/p")
  # One word in the result line ("kept interrupted" reads "kept_interrupted").
  state=${state// /_}
  [ $status = 0 ] || {
    echo "$label ${state:-none} - FAIL ($boots)" >"$work/result.$index"
    return
  }
  local expected=$work/uncut.listing last
  "$board" listing "$work/$name" >"$work/$name.listing"
  last=$work/$name/console.$(cat "$work/$name/boots")
  if [ -n "$undo" ]; then
    expected=$work/before.listing
    undone <"$work/$name.listing" >"$work/$name.undone"
    mv "$work/$name.undone" "$work/$name.listing"
  fi
  local final=${steps##*+}
  if [ -n "$undo" ] && [ "${final%@*}" = end ] && [ "$state" != rolled_back ]; then
    # A cut after the undo has ended must find it done: without flushes it
    # may be lost whole and done again, which the trees alone cannot show.
    result="LOST (the undo had ended; the boot after the cut found '${state:-none}')"
  elif ! cmp -s "$expected" "$work/$name.listing"; then
    result="DIFFERS ($(diff "$expected" "$work/$name.listing" | grep -c '^[<>]' || true) lines; $work/$name.listing)"
  elif [ -n "$undo" ] && ! tr -d '\r' <"$last" | grep -E "^sav3-board: undo again: status 0: .*already rolled back" >/dev/null; then
    result="NOT IDEMPOTENT ($last)"
  elif ! "$board" fsck "$work/$name" >"$work/$name.fsck"; then
    result="FSCK FAILED ($work/$name.fsck)"
  else
    result="as uncut"
    rm -rf "${work:?}/$name"
  fi
  echo "$label ${state:-none} $boots $result" >"$work/result.$index"
}

echo "${#points[@]} cuts ($layout, setting $setting, seed $seed), $jobs boards at a time"
printf '%-24s %-16s %-6s %s\n' point "state" boots result
worker() {
  local w=$1 i
  for ((i = w; i < ${#points[@]}; i += jobs)); do
    (one_cut "$i" "${points[$i]}") || true
    # A cut whose harness failed still gets its line.
    [ -f "$work/result.$i" ] || echo "${points[$i]} - - FAIL (the harness failed)" >"$work/result.$i"
  done
}
# The workers and what they started (boards, emulators) end with the
# campaign, however it ends: each by its PID, children first.
kill_tree() {
  local child
  for child in $(pgrep -P "$1" 2>/dev/null); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
pids=()
trap 'for pid in "${pids[@]}"; do kill_tree "$pid"; done' EXIT
for ((w = 0; w < jobs; w++)); do
  worker $w &
  pids+=($!)
done
passed=0 failed=0 proofs=0 caught=0 undo_proofs=0 undo_caught=0 status=0
for ((i = 0; i < ${#points[@]}; i++)); do
  while [ ! -f "$work/result.$i" ]; do sleep 1; done
  read -r label state boots result <"$work/result.$i"
  printf '%-24s %-16s %-6s %s\n' "$label" "$state" "$boots" "$result"
  case $label:$result in
    noflush/undo/*:"NOT CUT"* | noflush/undo/*:"as uncut") undo_proofs=$((undo_proofs + 1)) ;;
    noflush/undo/*) undo_proofs=$((undo_proofs + 1)) undo_caught=$((undo_caught + 1)) ;;
    noflush/*:"NOT CUT"*) proofs=$((proofs + 1)) ;;
    # A cut without flushes that ends other than uncut (other trees, a
    # damaged file system, no "done"): the missing flush is caught.
    noflush/*:"as uncut") proofs=$((proofs + 1)) ;;
    noflush/*) proofs=$((proofs + 1)) caught=$((caught + 1)) ;;
    *:"as uncut") passed=$((passed + 1)) ;;
    *) failed=$((failed + 1)) ;;
  esac
done
for pid in "${pids[@]}"; do wait "$pid"; done
cuts=$((${#points[@]} - proofs - undo_proofs))
echo "summary: $cuts cuts ($layout, setting $setting): $passed as uncut, $failed failed"
[ $failed = 0 ] || status=1
if [ $proofs -gt 0 ]; then
  if [ $caught -ge 1 ]; then
    echo "no-flush proof: $caught of $proofs cuts without flushes end other than the uncut run, as they must"
  else
    echo "FAIL: no-flush proof: with the tool's flushes doing nothing, all $proofs cuts end as uncut:" \
      "this harness could not catch a missing flush"
    status=1
  fi
fi
if [ $undo_proofs -gt 0 ]; then
  if [ $undo_caught -ge 1 ]; then
    echo "no-flush proof of the undo: $undo_caught of $undo_proofs cuts of an undo without flushes end other than the uncut undo, as they must"
  else
    echo "FAIL: no-flush proof of the undo: with the tool's flushes doing nothing, all $undo_proofs cuts of the undo" \
      "end as the uncut undo: this harness could not catch a missing flush in the undo"
    status=1
  fi
fi
exit $status
