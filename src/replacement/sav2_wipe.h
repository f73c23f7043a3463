// Emptying /usr/sav2 but for its "update" entries.
#pragma once

#include "sav3/migration.h"

namespace sav3 {

// Empties /usr/sav2 but for its "update" entries: the shell command when every
// name is well behaved, else entry by entry; then removes kept entries that
// the copy would write through or fail on.
void empty_live2(CommandRunner run_command, const char* command);

}  // namespace sav3
