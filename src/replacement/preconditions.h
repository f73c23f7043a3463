// The checks before the first command of a run: nothing destructive happens
// until they all hold, and they change nothing themselves (but a probe file,
// created and removed at once, where asked).
#pragma once

#include <cstddef>

#include "room.h"
#include "sav3/legacy_file.h"

namespace sav3 {

struct PreconditionFailure {
  const char* check;  // a word of sav3::precondition
  char path[512];     // escaped device path
  char error[512];    // the system's error text or what was found, escaped
};

enum class RunKind { full, resume };

// False with `failure` filled at the first check that fails. `probe`: create
// and remove a probe file in each folder that must be writable (a run); a
// check that must write nothing passes false and relies on the mount flags
// and access().
// `room`, when given, receives what the room prediction weighed.
bool preconditions_hold(RunKind kind, bool probe, PreconditionFailure& failure, RoomTally* room = nullptr);

}  // namespace sav3
