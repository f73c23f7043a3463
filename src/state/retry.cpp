// sav3-migrate --retry: a person's fresh start after a device stopped trying.
//
// Deleting the state file is no fresh start: after "done" or "abandoned" the
// next boot would convert the staging tree's new files as if they were
// legacy ones. --retry changes only the count that made the device stop, and
// only where the next boot's course is then sound: a "kept" device runs
// full runs again (its live trees still hold the legacy data); an
// "abandoned" one resumes the replacement, when the staging tree is still
// the one its manifest describes.
#include <sys/file.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "../look/tree.h"
#include "manifest.h"
#include "sav3/device.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "state_file.h"

namespace sav3 {

namespace {

int refuse(std::FILE* err, const char* format, ...) __attribute__((format(printf, 2, 3)));
int refuse(std::FILE* err, const char* format, ...) {
  char why[sizeof TreePath{}.text + 128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(why, sizeof why, format, args);
  va_end(args);
  std::fprintf(err, "sav3-migrate: --retry refused: %s\n", why);
  note(LOG_WARNING, log_line::retry_refused, why);
  return 1;
}

// "kept REASON" with "runs 0"; the first line as it is.
bool reset_kept(char* failed, std::size_t failed_size) {
  const StateRecord record = read_state_record();
  const std::size_t word = sizeof state_word::kept;  // "kept" and its blank
  if (std::strlen(record.first_line) < word) {
    std::snprintf(failed, failed_size, "%s", retry_refusal::unreadable);
    return false;
  }
  if (write_kept(record.first_line + word, 0)) return true;
  std::snprintf(failed, failed_size, retry_refusal::not_written, error_text(errno).text);
  return false;
}

// "pending", "attempts 0" and the manifest of the abandoned state.
bool make_pending(char* failed, std::size_t failed_size) {
  std::FILE* file = begin_state(state_word::pending);
  if (file == nullptr || !finish_state(file, std::fprintf(file, "%s 0\n", state_word::attempts) >= 0 &&
                                                 write_state_tail(file) && copy_manifest(file))) {
    std::snprintf(failed, failed_size, retry_refusal::not_written, error_text(errno).text);
    return false;
  }
  return true;
}

int retry_locked(std::FILE* out, std::FILE* err) {
  const StateInfo state = read_state();
  // The new state keeps telling the failure that stopped the device.
  forget_failure();
  if (const StateRecord record = read_state_record(); record.failed)
    remember_failure(record.what, record.path, record.error);
  char failed[sizeof TreePath{}.text + 64] = {};
  switch (state.state) {
    case State::none: return refuse(err, "%s", retry_refusal::no_state);
    case State::done: return refuse(err, "%s", retry_refusal::done);
    case State::pending: return refuse(err, "%s", retry_refusal::pending);
    case State::unreadable: return refuse(err, "%s", retry_refusal::unreadable);
    case State::rolling_back: return refuse(err, "%s", retry_refusal::rolling_back);
    case State::rolled_back: return refuse(err, "%s", retry_refusal::rolled_back);
    case State::kept:
      if (!reset_kept(failed, sizeof failed)) return refuse(err, "%s", failed);
      note(LOG_NOTICE, "%s", log_line::retry_kept);
      std::fprintf(out, "%s\n", log_line::retry_kept);
      return 0;
    case State::abandoned: break;
  }
  // The manifest is the one the last "pending" carried; an abandoned state
  // written by an older tool has none, and nothing tells what the staging
  // tree should hold.
  if (!manifest_well_formed()) return refuse(err, "%s", retry_refusal::no_manifest);
  if (!tree_matches_manifest(path::staging, TreeRule::staging, false, failed, sizeof failed))
    return refuse(err, retry_refusal::mismatch, escaped(failed).text);
  if (!make_pending(failed, sizeof failed)) return refuse(err, "%s", failed);
  note(LOG_NOTICE, "%s", log_line::retry_abandoned);
  std::fprintf(out, "%s\n", log_line::retry_abandoned);
  return 0;
}

}  // namespace

int retry_migration(std::FILE* out, std::FILE* err, Logger log) {
  set_logger(log);
  int status = 1;
  // The same lock as a run: a retry never changes the state under a run.
  const int staging = open(host_path(path::staging), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (staging < 0) {
    status = refuse(err, "%s", retry_refusal::staging);
  } else {
    if (flock(staging, LOCK_EX | LOCK_NB) == 0)
      status = retry_locked(out, err);
    else
      status = refuse(err, "%s", retry_refusal::locked);
    close(staging);
  }
  set_logger(nullptr);
  return status;
}

}  // namespace sav3
