// The migration run: marker test, shell commands, conversions, replacement.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>

#include "sav3/system_log.h"

namespace sav3 {

// Runs one shell command (std::system in the tool; a recorder in tests).
using CommandRunner = int (*)(const char* command);

// A conversion called by the run without arguments; 0 means success.
using Conversion = int (*)();

// The fixed command texts of a run, in order.
std::span<const char* const> retire_and_rebuild_commands();  // the 26 opening commands
std::span<const char* const> replacement_commands();         // the 4 closing commands

// The 30 commands by their place in the run (0-based, the opening commands
// first): the command list and the plan of what each touches both index by
// these, and the list checks at compile time that each place holds its text.
namespace command {
enum : std::size_t {
  remove_old_programs = 0,    // "rm PROGRAM", one per old program
  kill_old_programs = 8,      // "ps | grep PROGRAM | ... | xargs kill -9", the same order
  kill_dhcp_client = 16,      // "ps | grep dhclient | ..."
  empty_staging = 17,         // "rm -rf /usr/sav3/*"
  make_staging_folders = 18,  // "mkdir FOLDER", one per staging folder
  copies = 22,                // "cp ...", one per copy source, in their order
  opening_count = 26,
  wipe_live = 26,    // "rm -rf /usr/sav/*"
  empty_live2 = 27,  // "find /usr/sav2/ | grep -v update | ... | xargs rm -rf"
  copy_live = 28,    // "cp -rf /usr/sav3/* /usr/sav/"
  copy_live2 = 29,   // "cp -rf /usr/sav3/* /usr/sav2/"
  count = 30,
};
}  // namespace command

// One conversion of the run and its name in log lines.
struct NamedConversion {
  Conversion convert;
  const char* name;
};
// The 16 conversions in run order.
std::span<const NamedConversion> conversions();

// The whole run, under the lock on /usr/sav3 and guided by the state file
// /usr/sav3/.migration (sav3/migration_state.h). Returns 0 always. The live
// trees are replaced only when the staging tree was built, every conversion
// succeeded and the state "pending" with its manifest is on disk; a run that
// finds "pending" finishes the replacement without converting again.
int run_migration(CommandRunner run_command, Logger log = nullptr);

// What a run now would do on this device, changing nothing: a line per fact
// and the verdict last on `out` (with `json`: one JSON object), one log line
// "check: VERDICT: REASON". Returns 0 when the run would replace the live
// trees or they already hold the migration, else 1.
int check_migration(bool json, std::FILE* out, Logger log = nullptr);

// The exit statuses of --status: one per state, so that a fleet agent can
// act on the status alone.
namespace status_exit {
inline constexpr int done = 0;
inline constexpr int kept = 1;
inline constexpr int pending = 3;
inline constexpr int abandoned = 4;
inline constexpr int none = 5;          // no state file: no run has started
inline constexpr int unreadable = 6;    // a state file the tool cannot read, or the report not written
inline constexpr int rolling_back = 7;  // an undo under way: the next boot or --rollback finishes it
inline constexpr int rolled_back = 8;   // the migration was undone
}  // namespace status_exit

// What the migration's state says, changing nothing (no lock taken): the
// state and what it means, the run or attempt count, the tool version that
// wrote it, the last failure it recorded, whether an undo is possible; on
// `out` (with `json`: one JSON object), one log line "status: STATE".
// Returns the status_exit of the state.
int status_migration(bool json, std::FILE* out, Logger log = nullptr);

// sav3-migrate --rollback: puts back what the migration removed or replaced,
// from the before-image; --commit: deletes the before-image in state "done".
// One line on `out` (done) or `err` (why not); 0 done, 1 refused or failed.
int rollback_migration(std::FILE* out, std::FILE* err, Logger log = nullptr);
int commit_migration(std::FILE* out, std::FILE* err, Logger log = nullptr);

// A person's fresh start after "abandoned" or after a kept state that
// stopped trying: under the lock, a "kept" state gets "runs 0"; an
// "abandoned" one whose staging tree matches its manifest becomes "pending"
// with "attempts 0". Anything else is refused (1, one line why on `err` and
// one log line) and nothing changes. Returns 0 when the state was reset (one
// line on `out`).
int retry_migration(std::FILE* out, std::FILE* err, Logger log = nullptr);

// The command line. Only no argument at all runs the migration (-1); the
// options return their exit status: --help/-h and --version (0, text on
// out), --check [--json], --status [--json], --retry; anything else is a
// usage error (2: the usage and a line naming the argument on err), with
// nothing logged and nothing changed.
int handle_arguments(int argc, const char* const* argv, std::FILE* out, std::FILE* err, Logger log = nullptr);

}  // namespace sav3
