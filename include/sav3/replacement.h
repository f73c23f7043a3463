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
#include <span>

#include "sav3/migration.h"

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

}  // namespace sav3
