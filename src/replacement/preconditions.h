// The checks before the first command of a run: nothing destructive happens
// until they all hold, and they change nothing themselves (but a probe file,
// created and removed at once, where asked).
#pragma once

#include <cstddef>
#include <cstdint>

#include "room.h"
#include "sav3/legacy_file.h"
#include "sav3/look.h"

namespace sav3 {

enum class RunKind { full, resume };

// False with `failure` filled at the first check that fails. `probe`: create
// and remove a probe file in each folder that must be writable (a run); a
// check that must write nothing passes false and relies on the mount flags
// and access().
// `room`, when given, receives what the room prediction weighed.
// `staging_sound`: false when the staging folder itself failed (not a
// folder, or not apart from the other trees): no state file may be written
// there.
[[nodiscard]] bool preconditions_hold(RunKind kind, bool probe, Failure& failure, bool& staging_sound,
                                      RoomTally* room = nullptr);

// A top-level name the staging tree will have (its four folders, the update
// log).
[[nodiscard]] bool staging_tree_names(const char* name);

// Legacy inputs are read no further than this by the checks: the largest
// input the conversions read (a history report of 1000 records) and more.
inline constexpr std::uint64_t legacy_read_limit = 1024 * 1024;

// A legacy input: missing, a regular file that reads to its end, or
// unreadable (`error` says why).
LegacyLook read_legacy_input(const char* path, int& error);

}  // namespace sav3
