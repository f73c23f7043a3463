// The migration run: marker test, shell commands, conversions, replacement.
#pragma once

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

// The command line: an argument list whose first argument begins with "-"
// never starts a migration. Returns the exit status for --help and --version
// (0, text on out), for --check [--json] (check_migration, logging to `log`)
// and for any other such list (2, usage on err); -1 when the migration is to
// run.
int handle_arguments(int argc, const char* const* argv, std::FILE* out, std::FILE* err, Logger log = nullptr);

}  // namespace sav3
