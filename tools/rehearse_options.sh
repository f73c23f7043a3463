# shellcheck shell=bash
# The rehearsal's options and their one usage text, for the three entry
# points that take them: ./run rehearse, tools/rehearse.sh (one backup) and
# tools/fleet.sh (a batch). Sourced; nothing runs until rehearse_parse.
#
#   rehearse_parse PROGRAM SCOPES ARG...
#       GNU forms (--jobs=2 and --jobs 2, options anywhere, -- ends them,
#       -h/--help prints the usage and exits 0). SCOPES says which options
#       PROGRAM takes (below); anything else is refused with one line naming
#       it (exit 2). Sets rehearse_NAME for each option (flags: yes or no;
#       values: "" when not given; --all: the array rehearse_all) and the
#       array rehearse_args (the other arguments, in order). With
#       rehearse_base set, relative paths (path options and the arguments)
#       are taken relative to it.
#   rehearse_pass SCOPE...   the given options of these scopes as arguments
#       again, in the array rehearse_passed (for the entry point that runs
#       next).
#   rehearse_first_given SCOPE   the name of the first given option of SCOPE.
#   rehearse_refuse TEXT     "PROGRAM: TEXT" and a pointer to --help; exit 2.

# NAME KIND SCOPE: KIND flag, value or path (a value taken relative to
# rehearse_base); SCOPE any, one (a single backup), batch, or run (./run
# rehearse alone). --all may be given more than once.
rehearse_options=(
  "zone value any"
  "keep flag any"
  "rollback flag any"
  "into path one"
  "json path one"
  "jobs value batch"
  "out path batch"
  "baseline path batch"
  "all path batch"
  "host flag run"
)

rehearse_usage() {
  cat <<'EOF'
usage: ./run rehearse [OPTION...] BACKUP...
       tools/rehearse.sh [OPTION...] TOOL INSPECT BACKUP
       tools/fleet.sh [OPTION...] TOOL INSPECT [BACKUP...]

Migrates a copy of each BACKUP in the device sandbox and reports the tool's
exit status, the commands it issued, the inspector's verdict on the staging
tree, and whether the live trees were replaced (if not, why: the migration's
state and the tool's system log lines). A backup is never modified.

./run rehearse builds the ARM tool (--host: the host tool) and the
inspector, then rehearses one BACKUP as tools/rehearse.sh does, or several
(or any option of a batch) as tools/fleet.sh does.
tools/rehearse.sh rehearses one BACKUP with TOOL (sav3-migrate; an ARM build
runs through qemu-arm-static) and INSPECT (a sav3-inspect that runs here).
tools/fleet.sh rehearses every backup of each --all DIR, then every BACKUP,
one device sandbox per backup, N at a time, on this machine only: backups
hold credentials. A progress line says how many are done and failed, how
many remain and the time left.

BACKUP   a folder laid out like the device (mnt/1/cfg/..., usr/sav/...,
         usr/sav2/...) or a .tar or .tar.gz archive of one. Only its mnt and
         usr trees are taken; they may hold files and folders only (no links,
         no device nodes).

Options (--NAME VALUE or --NAME=VALUE; -- ends the options):
--zone ZONE  the device's zone, a name under /usr/share/zoneinfo, for a
         backup that holds none of its own. The device's own zone takes
         precedence, found as the tool finds it on the device: the backup's
         etc/localtime, else its etc/TZ (a POSIX TZ rule); else a file "zone"
         holding the name inside the backup (at its top), or beside it
         (NAME.zone beside the folder NAME or the archive NAME.tar or
         NAME.tar.gz). Without any of these: ZONE, else Europe/Berlin, and
         the report and the JSON mark the zone as a fallback.
--keep   keep the working copies and sandboxes (made in folders only their
         owner can read, since they hold the backup's credentials, and
         otherwise removed)
--rollback  after the migration, roll the device back and compare it with the backup
-h, --help  this text

One backup (tools/rehearse.sh; ./run rehearse with one BACKUP):
--into DIR   make the sandbox in DIR and keep it
--json FILE  also write the outcome as one JSON object on one line
         (docs/json.md): tool, format, path, verdict (done, kept, pending,
         abandoned or failed), state (the first line of the state file, or
         null), reason (or null), replaced, zone (name, and source:
         etc/localtime, etc/TZ, zone file, --zone or fallback), exit (the
         tool's exit status), commands, seconds, log (the tool's system log
         lines), check.

A batch (tools/fleet.sh; ./run rehearse):
--jobs N     rehearse N backups at a time, N above 0 (default: as many as
         cores)
--out DIR    where the reports go (default: build/rehearsals, which git
         ignores). DIR/reports/NAME.txt is the report of the backup NAME
         (the last part of its path) and NAME.json its outcome; each is
         written under a temporary name, then renamed. A second invocation
         with the same DIR skips the backups whose report exists (delete it
         to rehearse one again). At the end DIR/summary.txt (also printed)
         counts the backups per verdict and reason and lists the slowest and
         the failures, and DIR/rehearsals.jsonl holds one JSON object per
         backup, in order (with its name).
--baseline OTHER_TOOL  also migrate each backup with OTHER_TOOL (the release
         being replaced, say) and compare the two staging trees with
         `sav3-inspect --diff`: each report and JSON object says what
         differs, the summary counts the devices with identical and with
         different outputs and, per field, the devices where it differs.
--all DIR    every backup in DIR: the folders in it that hold a usr or mnt
         folder, and its .tar, .tar.gz and .tgz files (may be repeated)

./run rehearse only:
--host   rehearse with the host build of the tool, not the ARM one

Exit 0: every migration completed, the live trees hold the staging tree and
every file checks; 1: some did not; 2: usage, or (one backup) a backup that
cannot be used.
EOF
}

rehearse_refuse() {
  echo "$rehearse_program: $*" >&2
  echo "(see $rehearse_program --help)" >&2
  exit 2
}

# rehearse_refuse_scope NAME SCOPE: the option NAME is not one of this
# entry point's.
rehearse_refuse_scope() {
  case $2 in
    one) rehearse_refuse "--$1 is for one backup (tools/rehearse.sh, or ./run rehearse with one BACKUP)" ;;
    batch) rehearse_refuse "--$1 is for a batch (tools/fleet.sh, or ./run rehearse)" ;;
    *) rehearse_refuse "--$1 is an option of ./run rehearse only" ;;
  esac
}

# rehearse_path PATH: PATH as the caller meant it.
rehearse_path() {
  case $1 in
    /*) echo "$1" ;;
    *) echo "${rehearse_base:+$rehearse_base/}$1" ;;
  esac
}

rehearse_parse() {
  rehearse_program=$1
  local scopes=" $2 " only=no row name kind scope value
  shift 2
  # shellcheck disable=SC2034 # read by the scripts that source this
  rehearse_zone="" rehearse_keep=no rehearse_rollback=no rehearse_into="" rehearse_json=""
  # shellcheck disable=SC2034
  rehearse_jobs="" rehearse_out="" rehearse_baseline="" rehearse_host=no
  rehearse_all=() rehearse_args=() rehearse_given=()
  while [ $# -gt 0 ]; do
    case $only:$1 in
      no:-h | no:--help)
        rehearse_usage
        exit 0
        ;;
      no:--)
        only=yes
        shift
        continue
        ;;
      no:--?*) ;;
      no:-?*) rehearse_refuse "unknown option $1" ;;
      *)
        rehearse_args+=("$(rehearse_path "$1")")
        shift
        continue
        ;;
    esac
    name=${1#--} value="" kind=""
    for row in "${rehearse_options[@]}"; do
      [ "${row%% *}" = "${name%%=*}" ] || continue
      read -r _ kind scope <<<"$row"
    done
    [ -n "$kind" ] || rehearse_refuse "unknown option --${name%%=*}"
    [[ $scopes == *" $scope "* ]] || rehearse_refuse_scope "${name%%=*}" "$scope"
    if [ "$kind" = flag ]; then
      [ "$name" = "${name%%=*}" ] || rehearse_refuse "--${name%%=*} takes no value"
    elif [ "$name" != "${name%%=*}" ]; then
      value=${name#*=} name=${name%%=*}
    else
      [ $# -ge 2 ] || rehearse_refuse "--$name wants a value"
      value=$2
      shift
    fi
    shift
    [ "$kind" = flag ] || [ -n "$value" ] || rehearse_refuse "--$name wants a value"
    [ "$kind" != path ] || value=$(rehearse_path "$value")
    case $name in
      keep | rollback | host) printf -v "rehearse_$name" yes ;;
      all) rehearse_all+=("$value") ;;
      *) printf -v "rehearse_$name" '%s' "$value" ;;
    esac
    rehearse_given+=("$name")
  done
  # A count of jobs is taken as given or refused, never bent to fit.
  case $rehearse_jobs in
    "") ;;
    *[!0-9]*) rehearse_refuse "--jobs wants a number above 0: $rehearse_jobs" ;;
    *[1-9]?????*) rehearse_refuse "--jobs wants at most 99999 jobs: $rehearse_jobs" ;;
    *) [ $((10#$rehearse_jobs)) -gt 0 ] || rehearse_refuse "--jobs wants a number above 0: $rehearse_jobs" ;;
  esac
}

rehearse_first_given() {
  local name row
  for name in "${rehearse_given[@]}"; do
    for row in "${rehearse_options[@]}"; do
      if [ "${row%% *}" = "$name" ] && [ "${row##* }" = "$1" ]; then
        echo "$name"
        return
      fi
    done
  done
}

rehearse_pass() {
  local row name kind scope value
  rehearse_passed=()
  for row in "${rehearse_options[@]}"; do
    read -r name kind scope <<<"$row"
    [[ " $* " == *" $scope "* ]] || continue
    if [ "$name" = all ]; then
      for value in "${rehearse_all[@]}"; do rehearse_passed+=(--all "$value"); done
      continue
    fi
    local var=rehearse_$name
    value=${!var}
    case $kind:$value in
      flag:yes) rehearse_passed+=("--$name") ;;
      flag:* | *:) ;;
      *) rehearse_passed+=("--$name" "$value") ;;
    esac
  done
}
