// The replacement of the live trees and the state machine around it: the one
// call from the migration sequence into it.
//
// The sequence owns the command texts and the conversions; the replacement
// owns everything that decides whether they run (marker, lock, state file,
// the checks before the first command) and everything after the staging tree
// is built (room, manifest, the state "pending", the four closing commands,
// their check, "done"). The sequence never touches the state file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sav3/look.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"

namespace sav3 {

// What a full run needs of the sequence.
struct Sequence {
  // The opening commands, the check of their copies, the conversions and the
  // gate. Returns true for a complete staging tree; otherwise it has logged
  // why and `kept_reason` holds the reason for the state "kept <reason>".
  bool (*build_staging_tree)(CommandRunner run_command, char* kept_reason, std::size_t capacity);
  // The four commands that empty and refill the live trees, in order.
  std::span<const char* const> closing_commands;
};

// A run at boot: the marker, the lock, the state, the checks before the first
// command, then a full run through the sequence, a resume or nothing.
void run_replacement(CommandRunner run_command, const Sequence& sequence);

// What the room checks weighed, one entry per file system in the order
// weighed (the staging tree's first); the last one lacks room when a check
// failed on room, and a failed check without such an entry could not tell.
struct RoomTally {
  struct FileSystem {
    char tree[16];  // the tree whose file system it is
    std::uint64_t need_kib;
    std::uint64_t free_kib;
    std::uint64_t need_inodes;
    std::uint64_t free_inodes;  // 0 with need_inodes 0: not counted there
    bool enough;
  };
  FileSystem seen[3];
  std::size_t count;
};

// What a run now would do, found without changing anything: no command, no
// file written (no probe: mounts are judged by their flags and access()), no
// lock taken, no missing live tree created, nothing logged. The same checks
// decide as in a run; what no check can see beforehand (a copy or a write
// that fails during the run) is taken as not happening.
// What one of the 30 commands will touch on this device.
struct CommandPlan {
  std::uint32_t removes;      // entries it removes (at any depth)
  std::uint32_t copies;       // entries it copies
  std::uint32_t writes_over;  // entries that exist where it writes (written in place)
};
inline constexpr std::size_t planned_commands = command::count;

struct CheckReport {
  enum class Verdict { replace, keep, nothing, cannot_tell };
  Verdict verdict;
  char reason[1200];  // keep: the state's reason; nothing: why; replace: the run
  int exit_status;    // 0 replace or already migrated; 1 otherwise
  // What the run would find.
  bool marker;
  enum class Lock { free, held, cannot_tell } lock;
  char state[512];    // the state file's first line, escaped ("" when there is none)
  State state_found;  // the state as a run reads it (unreadable: none of them)
  int attempts;       // pending: resumes so far
  int runs;           // kept: full runs so far
  enum class Run { nothing, resume, full } run;
  int attempt;            // resume: the attempt it would start
  const char* full_why;   // full: why (a log line)
  bool staging_volatile;  // /usr/sav3 on tmpfs or ramfs
  bool zone_told;         // full: the zone below was looked at
  const char* tz;         // TZ (the rule of /etc/TZ when zone_from says so), or nullptr
  int zone_from;          // a ZoneSource::From: where the zone came from
  bool zone_read_as_utc;  // libc fell back to UTC without being told to
  std::uint8_t ports[4];  // full: the module code of ports 1..4 (legacy inventory)
  bool ports_told;
  // What a full run would convert as zeros, or cannot read: each legacy
  // input of the device's modules that is missing, unreadable, empty or
  // short, or holds time texts that do not parse.
  struct Input {
    enum class What : std::uint8_t { missing, unreadable, empty, short_read, bad_times } what;
    char path[96];
    int error;           // unreadable: why
    std::uint64_t read;  // empty, short: the bytes read of those the converters read
    std::uint64_t expected;
    std::uint32_t bad_times;  // bad_times: records whose time text does not parse
    std::uint32_t records;    // bad_times: records read
  };
  Input inputs[128];
  std::size_t input_count;
  char
      live2_by_hand[600];  // full or resume: why /usr/sav2 would be emptied entry by entry ("": it would not)
  RoomTally room;          // the file systems weighed, in order
  // The plan the run would act on (full run or resume): whether its rules
  // hold, the first that failed, and what each command would touch.
  bool planned;
  bool plan_holds;
  Failure plan_failure;
  bool plan_counted;
  CommandPlan plan[planned_commands];
  std::uint32_t kept_in_live2;
  // The before-image a full run would keep (image_due: a full run whose
  // rules hold), or why it would keep none.
  bool image_due;
  bool image_fits;
  std::uint64_t image_entries;
  std::uint64_t image_linked;
  std::uint64_t image_copied;
  std::uint64_t image_copied_bytes;
  std::uint64_t image_linked_bytes;
  char image_none[1100];
};
void check_replacement(CheckReport& report);

}  // namespace sav3
