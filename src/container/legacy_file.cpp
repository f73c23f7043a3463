// Opening a legacy file: look first, then open, and remember a read that
// failed.
//
// Aging flash returns read errors, and a path can hold something that is not
// a file: a folder, a FIFO (opening it blocks the boot), a device node
// (opening it can have effects). The old firmware's files are read as zeros
// when they are missing or short, as they always were; anything else that
// keeps a file from being read to its end is a failure that the run must
// see before it replaces the live trees with converted zeros.
#include "sav3/legacy_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "sav3/device.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {
// The first unreadable legacy file of the run (a conversion writes its output
// from zeros and goes on; the run's gate looks here).
ReadFailure g_first_failure;
}  // namespace

LegacyLook look_at_legacy_file(const char* path, int& error) {
  error = 0;
  struct stat st;
  if (stat(host_path(path), &st) != 0) {
    error = errno;
    // A missing file, or a missing folder on the way to it.
    return error == ENOENT || error == ENOTDIR ? LegacyLook::missing : LegacyLook::unreadable;
  }
  if (S_ISREG(st.st_mode)) return LegacyLook::regular;
  error = S_ISDIR(st.st_mode) ? EISDIR : not_a_regular_file;
  return LegacyLook::unreadable;
}

void note_read_failure(const char* path, int error) {
  if (g_first_failure.error != 0) return;
  std::snprintf(g_first_failure.path, sizeof g_first_failure.path, "%s", path);
  g_first_failure.error = error != 0 ? error : EIO;
}

const ReadFailure& first_read_failure() { return g_first_failure; }

void forget_read_failures() { g_first_failure = ReadFailure{}; }

std::FILE* open_legacy_file(const char* path) {
  int error = 0;
  switch (look_at_legacy_file(path, error)) {
    case LegacyLook::missing: return nullptr;
    case LegacyLook::unreadable: note_read_failure(path, error); return nullptr;
    case LegacyLook::regular: break;
  }
  std::FILE* file = open_device_file(path, "r");
  if (file == nullptr && errno != ENOENT) note_read_failure(path, errno);
  return file;
}

void close_legacy_file(std::FILE* file, const char* path) {
  // errno of a failed read is lost by the stdio buffer's later calls; EIO is
  // what a medium that fails a read reports.
  if (std::ferror(file)) note_read_failure(path, errno != 0 ? errno : EIO);
  std::fclose(file);
}

const char* read_error_text(int error) {
  return error == not_a_regular_file ? "not a regular file" : error_message(error);
}

}  // namespace sav3
