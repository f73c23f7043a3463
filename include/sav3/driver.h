// The migration run: marker test, shell commands, conversions, replacement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace sav3 {

// Runs one shell command (std::system in the tool; a recorder in tests).
using CommandRunner = int (*)(const char* command);

// Receives one system-log line with its syslog priority (system_log in the
// tool; a recorder in tests). The tool itself never prints.
using Logger = void (*)(int priority, const char* line);

// The system log: openlog("sav3-migrate", LOG_PID, LOG_USER) on first use, no
// console fallback.
void system_log(int priority, const char* line);

// A conversion called by the driver without arguments; 0 means success.
using Conversion = int (*)();

// The fixed command texts of a run, in order.
std::span<const char* const> retire_and_rebuild_commands();  // the 26 opening commands
std::span<const char* const> replacement_commands();         // the 4 closing commands

// The 16 conversions in run order.
std::span<const Conversion> conversions();

// The whole run, under the lock on /usr/sav3 and guided by the state file
// /usr/sav3/.migration (sav3/migration_state.h). Returns 0 always. The live
// trees are replaced only when the staging tree was built, every conversion
// succeeded and the state "pending" with its manifest is on disk; a run that
// finds "pending" finishes the replacement without converting again.
int run_migration(CommandRunner run_command, Logger log = nullptr);

// The command line: an argument list whose first argument begins with "-"
// never starts a migration. Returns the exit status for --help and --version
// (0, text on out) and for any other such list (2, usage on err); -1 when the
// migration is to run.
int handle_arguments(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// A name as it appears in log lines and manifests: bytes below 0x20, 0x7f,
// the backslash and bytes from 0x80 as \xNN. Returns false (and a truncated,
// terminated text) when out is too small.
bool escape_name(const char* name, char* out, std::size_t capacity);
// The reverse, in place; false on a malformed escape.
bool unescape_name(char* text);

// The room check's arithmetic for one file system, in its blocks
// (statvfs f_frsize): what the copies need and the wipes free there, against
// what it has.
struct RoomFigures {
  std::uint64_t block_size;   // f_frsize (f_bsize when 0)
  std::uint64_t blocks;       // f_blocks
  std::uint64_t free_blocks;  // f_bavail
  std::uint64_t inodes;       // f_files; 0 when the file system does not count them
  std::uint64_t free_inodes;  // f_favail
};
struct RoomDemand {
  std::uint64_t blocks;  // the copies: each file rounded up to blocks, a block per folder
  std::uint64_t inodes;  // the copies: one per entry
  std::uint64_t freed_blocks;
  std::uint64_t freed_inodes;
};
struct RoomVerdict {
  bool enough_blocks;
  bool enough_inodes;
  std::uint64_t need_kib;  // blocks needed beyond those freed, plus the margin
  std::uint64_t free_kib;
  std::uint64_t need_inodes;
};
// The margin is max(64 KiB, 1% of the file system), rounded up to blocks.
RoomVerdict weigh_room(const RoomDemand& demand, const RoomFigures& figures);
std::uint64_t blocks_for(std::uint64_t size, std::uint64_t block_size);

}  // namespace sav3
