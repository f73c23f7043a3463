// Every look the tool takes at the device has three answers: present,
// absent, or failed with its error. A look that fails (an I/O error on a bad
// folder block, a permission the tool lacks, a file system that went away)
// is never read as "nothing there": the run that reads it so would copy
// nothing, check nothing and delete the rest.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>

namespace sav3 {

enum class Seen : unsigned char { present, absent, failed };

struct Look {
  Seen seen;
  int error;       // failed: errno of the look
  struct stat st;  // present: the entry's status
};

// Only a missing entry, or a missing or non-folder step on the way to it,
// is "absent".
[[nodiscard]] bool means_absent(int error);

// A device path, links followed (`follow`) or not.
[[nodiscard]] Look look_path(const char* device_path, bool follow);
// An entry of the folder open at dirfd, links followed or not.
[[nodiscard]] Look look_entry(int dirfd, const char* name, bool follow);

// readdir that tells a failure from the end of the folder: nullptr with
// `error` 0 at the end, nullptr with the error when the folder could not be
// read whole ("." and ".." are skipped).
[[nodiscard]] const dirent* next_entry(DIR* dir, int& error);

// Opens a device path for reading only when it leads to a regular file, and
// never blocks on the way (a FIFO, socket, device node or folder there is
// "not a regular file", never opened through). -1 with `look` saying why:
// absent, or failed with the error (EISDIR for a folder, not_a_regular_file
// for the rest).
[[nodiscard]] int open_regular(const char* device_path, Look& look);
[[nodiscard]] int open_regular_at(int dirfd, const char* name, int flags, Look& look);

// One failure, carried from where it happened to its log line: what was
// being checked or done, the device path and the error's text (the system's
// text in the C locale, or what was found), both escaped as in log lines.
struct Failure {
  const char* what;
  char path[512];
  char error[512];
};
// Fill `f` and return false, so that a check can end with `return fail(...)`.
[[nodiscard]] bool fail(Failure& f, const char* what, const char* path, const char* text);
[[nodiscard]] bool fail_errno(Failure& f, const char* what, const char* path, int error);

}  // namespace sav3
