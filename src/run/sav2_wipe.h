// Emptying /usr/sav2 but for its "update" entries.
#pragma once

#include <cstddef>

#include "sav3/migration.h"

namespace sav3 {

// Empties /usr/sav2 but for its "update" entries: the shell command when every
// name is well behaved, else entry by entry; then removes kept entries that
// the copy would write through or fail on.
void empty_live2(CommandRunner run_command, const char* command);

// Why /usr/sav2 would be emptied entry by entry rather than by the shell
// command (the text of the log line that says so), or "" when it would not.
void live2_shell_trouble(char* why, std::size_t capacity);

}  // namespace sav3
