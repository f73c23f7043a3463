// Opening the old firmware's files. A missing or short file gives zeros, as
// it always did; a path that exists but is not a regular file (a folder, a
// FIFO, a socket, a device node) is never opened, and it, an open that fails
// otherwise, or a read that fails before the end make the file "unreadable":
// the conversion still writes its output from zeros, and the run keeps the
// live trees (it looks at first_read_failure after the conversions).
#pragma once

#include <cstdio>

namespace sav3 {

enum class LegacyLook { regular, missing, unreadable };

// The error of a path that exists but is neither a regular file nor a folder.
inline constexpr int not_a_regular_file = -1;

// Where the path leads (links followed), without opening it; `error` is the
// errno of a failed look, EISDIR for a folder, not_a_regular_file for the rest.
LegacyLook look_at_legacy_file(const char* path, int& error);

// The file open for reading, or nullptr: missing (nothing noted) or
// unreadable (noted). Close it with close_legacy_file, which notes a read
// error.
std::FILE* open_legacy_file(const char* path);
void close_legacy_file(std::FILE* file, const char* path);

// The first legacy file of the run that could not be read (error 0: none).
struct ReadFailure {
  char path[96];
  int error;
};
void note_read_failure(const char* path, int error);
const ReadFailure& first_read_failure();
void forget_read_failures();

// The error's text in the C locale ("not a regular file" for the rest).
const char* read_error_text(int error);

}  // namespace sav3
