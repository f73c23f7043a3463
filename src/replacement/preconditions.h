// The checks before the first command of a run: nothing destructive happens
// until they all hold, and they change nothing themselves (but a probe file,
// created and removed at once, where asked).
#pragma once

#include <cstddef>

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
bool preconditions_hold(RunKind kind, bool probe, PreconditionFailure& failure);

}  // namespace sav3
