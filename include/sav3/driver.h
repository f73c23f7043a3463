// The migration run: marker test, shell commands, conversions, replacement.
#pragma once

#include <cstddef>
#include <span>

namespace sav3 {

// Runs one shell command (std::system in the tool; a recorder in tests).
using CommandRunner = int (*)(const char* command);

// A conversion called by the driver without arguments; 0 means success.
using Conversion = int (*)();

// The fixed command texts of a run, in order.
std::span<const char* const> retire_and_rebuild_commands();  // the 26 opening commands
std::span<const char* const> replacement_commands();         // the 4 closing commands

// The 16 conversions in run order.
std::span<const Conversion> conversions();

// The whole run. Returns 0 always. The live trees are replaced only when the
// staging tree was built and every conversion succeeded; otherwise they keep
// every byte they had.
int run_migration(CommandRunner run_command);

}  // namespace sav3
