// Every transition of the migration's state, in one place: what a run at
// boot does for each state it finds, and what it leaves behind.
//
//   (no file), kept, done with legacy reports back  -> full run
//   pending                                         -> resume (attempt n)
//   done                                            -> nothing
//   abandoned                                       -> nothing
//
// A full run ends in "pending" (and then "done" after the closing commands
// and their check) or in "kept <reason>"; a resume ends in "done", stays
// "pending" or, after the third attempt, "abandoned".
#include "transitions.h"

#include <linux/magic.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <syslog.h>

#include <cerrno>

#include "../look/tree.h"
#include "../plan/plan.h"
#include "../plan/preconditions.h"
#include "../plan/room.h"
#include "../state/manifest.h"
#include "../state/state_file.h"
#include "../undo/before_image.h"
#include "sav2_wipe.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/k3.h"
#include "sav3/legacy_time.h"
#include "sav3/lq_zrt.h"
#include "sav3/migration_state.h"
#include "sav3/replacement.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {
enum closing_command : std::size_t { wipe_live, empty_live2_command, copy_live, copy_live2 };

// The legacy reports that the history conversions read. One of them back
// under /usr/sav/data means an old firmware has run since the last migration.
constexpr const char* numbered_reports[] = {
    legacy_lq_item::report_path,
    legacy_zrt_item::report_path,
    legacy_k3_item::report_path_format,
    legacy_supply_battery::lq_report_path,
    legacy_supply_battery::zrt_report_path,
    legacy_supply_extra::lq_report_path,
    legacy_supply_extra::zrt_report_path,
};

}  // namespace

bool legacy_reports_back() {
  if (device_file_exists(controller_record::report_path)) return true;
  for (const char* format : numbered_reports) {
    for (unsigned n = 1; n <= port_count; ++n) {
      if (device_file_exists(numbered_path(format, n))) return true;
    }
  }
  return false;
}

bool staging_on_volatile_file_system(int staging) {
  struct statfs fs;
  if (fstatfs(staging, &fs) != 0) return false;
  const auto type = static_cast<std::uint32_t>(fs.f_type);
  return type == TMPFS_MAGIC || type == RAMFS_MAGIC;
}

Course course_for(const StateInfo& state) {
  switch (state.state) {
    case State::unreadable: return {Course::stop, LOG_ERR, log_line::state_unreadable, 0};
    case State::abandoned: return {Course::stop, LOG_NOTICE, log_line::abandoned_found, 0};
    case State::kept:
      if (state.runs >= max_kept_runs) return {Course::stop, LOG_NOTICE, log_line::kept_settled, state.runs};
      return {Course::full, LOG_NOTICE, log_line::full_run_after_kept, state.runs};
    case State::done:
      if (!legacy_reports_back()) return {Course::stop, LOG_NOTICE, log_line::already_done, 0};
      return {Course::full, LOG_NOTICE, log_line::full_run_reports_back, 0};
    case State::pending: return {Course::resume, LOG_NOTICE, log_line::resumed, state.attempts + 1};
    case State::rolling_back: return {Course::undo, LOG_NOTICE, log_line::undo_unfinished, 0};
    case State::rolled_back: return {Course::full, LOG_NOTICE, log_line::full_run_rolled_back, 0};
    case State::none: break;
  }
  return {Course::full, LOG_NOTICE, log_line::full_run_no_state, 0};
}

// A live tree lacks an entry that the manifest lists (only looked for when
// the state cannot be written: a tree that holds them all is left as it is).
bool lacks_listed_entry(const char* tree) {
  const int root = open_device_folder(tree);
  if (root < 0) return true;
  ManifestReader manifest;
  bool lacks = !open_manifest(manifest);
  ManifestEntry entry;
  while (!lacks && next_manifest_entry(manifest, entry) == 1) {
    struct stat st;
    lacks = fstatat(root, entry.path, &st, AT_SYMLINK_NOFOLLOW) != 0;
  }
  if (manifest.file != nullptr) close_manifest(manifest);
  close(root);
  return lacks;
}

namespace {

// A live tree that is missing is created (and its parent flushed, so that
// the new name survives a cut); the checks before the first command have
// made sure that the others resolve to folders.
bool live_folders_ready(char* failed, std::size_t failed_size) {
  for (const char* live : {path::live, path::live2}) {
    struct stat st;
    if (stat(host_path(live), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (errno == ENOENT && make_device_folder(live)) {
      note(LOG_NOTICE, log_line::live_created, live);
      continue;
    }
    note(LOG_ERR, log_line::live_not_folder, live);
    remember_failure(failure_what::live_tree, live, error_text(errno).text);
    std::snprintf(failed, failed_size, "%s", live);
    return false;
  }
  return true;
}

// Each folder the opening commands removed from, flushed on its own: a
// folder's fsync reports a failed write-back on every kernel (syncfs says
// nothing of one before Linux 5.8, and older kernels lack it). /mnt only when
// all of /mnt/2 is gone: its removal is then what must reach the medium.
// False, with "FOLDER: ERROR" in failed, when a flush failed.
bool flush_opening_removals(char* failed, std::size_t failed_size) {
  // One folder flushed; `there` false when it is gone (nothing to flush).
  auto flush = [&](const char* folder, bool& there) {
    const int fd = open(host_path(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    there = fd >= 0;
    if (!there) return true;
    const bool flushed = fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!flushed) std::snprintf(failed, failed_size, "%s: %s", folder, error_text(error).text);
    return flushed;
  };
  bool there = false;
  char previous[sizeof PathName{}.text] = {};
  for (const char* program : old_programs) {
    // The program's folder, each once.
    char folder[sizeof previous];
    std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(last_name(program) - program - 1), program);
    if (std::strcmp(folder, previous) == 0) continue;
    std::memcpy(previous, folder, sizeof previous);
    if (!flush(folder, there)) return false;
  }
  if (!flush(path::old_programs_partition, there)) return false;
  return there || flush("/mnt", there);
}

void log_precondition(const Failure& f) {
  note(LOG_ERR, log_line::precondition_failed, f.what, f.path, f.error);
  char what[32];
  std::snprintf(what, sizeof what, "%s %s", failure_what::precondition, f.what);
  remember_failure(what, f.path, f.error);
}

void verification_failed(const char* failed) {
  note(LOG_ERR, log_line::verification_failed, escaped(failed).text);
  remember_failure(failure_what::verification, escaped(failed).text, "");
}

void manifest_mismatch(const char* failed) {
  note(LOG_ERR, log_line::manifest_mismatch, escaped(failed).text);
  remember_failure(failure_what::manifest, escaped(failed).text, "");
}

// The four replacement commands, then the exact check of both live trees
// against the manifest (flushing them), then the state "done". The state
// "pending" is on disk before this starts.
bool replace_live_trees(CommandRunner run_command, const Sequence& sequence) {
  const auto closing = sequence.closing_commands;
  note(LOG_NOTICE, "%s", log_line::pending);
  // The statuses of the closing commands are not judged: the check below is.
  run_command(closing[wipe_live]);
  empty_live2(run_command, closing[empty_live2_command]);
  run_command(closing[copy_live]);
  run_command(closing[copy_live2]);
  // cp -rf flushes nothing: the check flushes every file and folder it reads.
  // Without that, a cut soon after "done" could keep the new names over empty
  // or short files (the medium gets file data later than the names), and no
  // later run would look at them again.
  char failed[sizeof TreePath{}.text + 64];
  if (!tree_matches_manifest(path::live, TreeRule::live, true, failed, sizeof failed) ||
      !tree_matches_manifest(path::live2, TreeRule::live2, true, failed, sizeof failed)) {
    verification_failed(failed);
    return false;
  }
  if (!write_state("%s", state_word::done)) return false;
  note(LOG_NOTICE, "%s", log_line::done);
  return true;
}

void abandon(int attempts) {
  char reason[64];
  std::snprintf(reason, sizeof reason, abandoned_reason, attempts);
  // Best effort: an abandoned state that cannot be written stays pending,
  // and the next run comes back here.
  static_cast<void>(write_abandoned(reason, attempts));
  note(LOG_ERR, log_line::abandoned, attempts);
}

// The before-image, on the medium before the first command. Without room
// for it, or when making it fails, the run migrates without it and says so.
void keep_before_image(const Plan& plan) {
  Failure f{};
  ImageTally tally{};
  if (!plan.image_keep && look_path(path::before_image, false).seen != Seen::absent)
    note(LOG_NOTICE, "%s", log_line::old_image_removed);
  const bool kept = plan.image_fits ? make_before_image(plan.image_keep, tally, f) : false;
  if (!kept) {
    if (!plan.image_fits) f = plan.image_none;
    // A kept image without what this run would add is no undo either.
    Failure ignored{};
    static_cast<void>(remove_before_image(ignored));
    char why[sizeof f.path + sizeof f.error + 4];
    std::snprintf(why, sizeof why, "%s: %s", f.path, f.error);
    note(LOG_WARNING, log_line::no_before_image, why);
    remember_no_undo(why);
    return;
  }
  note(LOG_NOTICE, log_line::before_image_kept, static_cast<unsigned long long>(tally.entries),
       static_cast<unsigned long long>(tally.linked), static_cast<unsigned long long>(tally.copied),
       static_cast<unsigned long long>(tally.copied_bytes));
}

// A full run: the checks, the run count, the opening commands and the
// conversions; only a complete staging tree, enough room and the state
// "pending" with the flushed staging tree's manifest let the replacement
// start. Otherwise the state says why the live trees were kept.
void full_run(CommandRunner run_command, const Sequence& sequence, const char* why, int runs_found) {
  note(LOG_NOTICE, "%s", why);
  tell_zone();
  char failed[sizeof TreePath{}.text + 64] = {};
  Plan plan;
  if (!make_plan(RunKind::full, true, plan)) {
    const Failure& precondition = plan.failure;
    log_precondition(precondition);
    // A staging folder that is not apart from the other trees takes no state
    // file: it would land in the legacy data. The log line alone tells.
    if (!plan.staging_sound) return;
    std::snprintf(failed, sizeof failed, "%s: %s: %s", precondition.what, precondition.path,
                  precondition.error);
    char reason[sizeof failed + 64];
    std::snprintf(reason, sizeof reason, kept_reason::precondition, failed);
    // Best effort: the run changed nothing, and the next boot checks again.
    static_cast<void>(write_kept(reason, runs_found));
    return;
  }
  // Before a missing live tree is made: the undo leaves it missing.
  keep_before_image(plan);
  if (!live_folders_ready(failed, sizeof failed)) {
    char reason[sizeof failed + 64];
    std::snprintf(reason, sizeof reason, kept_reason::live_not_folder, failed);
    static_cast<void>(write_kept(reason, runs_found));
    return;
  }
  // The count is on the medium before the first command: a run cut short
  // still counts, so that a device whose runs keep failing settles.
  const int runs = runs_found + 1;
  if (!write_kept(kept_reason::interrupted, runs)) return;
  if (!sequence.build_staging_tree(run_command, failed, sizeof failed)) {
    static_cast<void>(write_kept(failed, runs));
    return;
  }
  // A resume never issues the opening commands again, so what they removed
  // must be on the medium before "pending" is: without this, a cut soon
  // after it could bring the old programs back (their folders' journal not
  // yet committed) for good.
  // Not flushed: the next run is a full one and issues them again.
  char reason[sizeof failed + 64];
  if (!flush_opening_removals(failed, sizeof failed)) {
    std::snprintf(reason, sizeof reason, kept_reason::not_flushed, failed);
    static_cast<void>(write_kept(reason, runs));
    return;
  }
  if (!enough_room(failed, sizeof failed)) {
    std::snprintf(reason, sizeof reason, kept_reason::no_room, failed);
    static_cast<void>(write_kept(reason, runs));
    return;
  }
  std::FILE* state = begin_state(state_word::pending);
  const bool begun =
      state != nullptr && std::fprintf(state, "%s 0\n", state_word::attempts) > 0 && write_state_tail(state);
  if (begun && !write_staging_manifest(state, failed, sizeof failed)) {
    discard_state(state);
    const auto shown = escaped(failed);
    note(LOG_ERR, log_line::staging_unreadable, shown.text);
    remember_failure(failure_what::staging, shown.text, "");
    std::snprintf(reason, sizeof reason, kept_reason::staging_unreadable, shown.text);
    static_cast<void>(write_kept(reason, runs));
    return;
  }
  if (!begun || !commit_state(state)) {
    if (state != nullptr && !begun) discard_state(state);
    const int error = errno;
    note(LOG_ERR, log_line::state_not_written, state_word::pending, error_text(error).text);
    remember_failure(failure_what::state, path::state, error_text(error).text);
    std::snprintf(reason, sizeof reason, kept_reason::state_not_written, state_word::pending);
    static_cast<void>(write_kept(reason, runs));
    return;
  }
  replace_live_trees(run_command, sequence);
}

// A resume whose attempt count cannot be written (the staging file system
// turned read-only or full): it cannot count, so it never abandons; it only
// refills a live tree that the last attempt left without a listed entry, so
// that the device does not boot on an empty /usr/sav.
void resume_unwritable(CommandRunner run_command, const Sequence& sequence, int error) {
  const auto closing = sequence.closing_commands;
  char failed[sizeof TreePath{}.text + 64];
  if (!tree_matches_manifest(path::staging, TreeRule::staging, false, failed, sizeof failed)) {
    manifest_mismatch(failed);
  } else {
    if (lacks_listed_entry(path::live)) {
      run_command(closing[wipe_live]);
      run_command(closing[copy_live]);
      if (!tree_matches_manifest(path::live, TreeRule::live, true, failed, sizeof failed))
        verification_failed(failed);
    }
    if (lacks_listed_entry(path::live2)) {
      empty_live2(run_command, closing[empty_live2_command]);
      run_command(closing[copy_live2]);
      if (!tree_matches_manifest(path::live2, TreeRule::live2, true, failed, sizeof failed))
        verification_failed(failed);
    }
  }
  note(LOG_ERR, log_line::state_not_writable, error_text(error).text);
}

// A resume: the staging tree stays as it is, no conversion and no opening
// command runs. Every failure leaves the state "pending" (the live trees may
// already be empty); the third failed attempt abandons.
void resume(CommandRunner run_command, const Sequence& sequence, int attempts) {
  Plan plan;
  if (!make_plan(RunKind::resume, true, plan)) {
    log_precondition(plan.failure);
    return;
  }
  if (attempts >= max_attempts) {
    abandon(attempts);
    return;
  }
  const int attempt = attempts + 1;
  std::FILE* state = begin_state(state_word::pending);
  bool committed = false;
  if (state != nullptr) {
    if (std::fprintf(state, "%s %d\n", state_word::attempts, attempt) >= 0 && write_state_tail(state) &&
        copy_manifest(state)) {
      committed = commit_state(state);  // closes the file whatever it returns
    } else {
      const int error = errno;
      discard_state(state);
      errno = error;
    }
  }
  if (!committed) {
    resume_unwritable(run_command, sequence, errno != 0 ? errno : EIO);
    return;
  }
  note(LOG_NOTICE, log_line::resumed, attempt);
  char failed[sizeof TreePath{}.text + 64];
  bool finished = false;
  if (!tree_matches_manifest(path::staging, TreeRule::staging, false, failed, sizeof failed)) {
    manifest_mismatch(failed);
  } else if (live_folders_ready(failed, sizeof failed) && enough_room(failed, sizeof failed)) {
    finished = replace_live_trees(run_command, sequence);
  }
  if (!finished && attempt >= max_attempts) abandon(attempt);
}

void run_locked(CommandRunner run_command, const Sequence& sequence, int staging) {
  const StateInfo state = read_state();
  const Course course = course_for(state);
  if (course.kind == Course::stop) {
    note(course.priority, course.line, course.count);
    return;
  }
  if (course.kind == Course::undo) {
    // An undo cut short: finished before anything else (the operator asked
    // for the old data back).
    note(course.priority, "%s", course.line);
    finish_rollback();
    return;
  }
  // A resume's states keep saying why no undo is possible.
  if (const StateRecord record = read_state_record(); record.no_undo[0] != '\0')
    remember_no_undo(record.no_undo);
  if (staging_on_volatile_file_system(staging)) note(LOG_WARNING, "%s", log_line::staging_on_tmpfs);
  if (course.kind == Course::resume)
    resume(run_command, sequence, state.attempts);
  else
    full_run(run_command, sequence, course.line, course.count);
}

}  // namespace

void run_replacement(CommandRunner run_command, const Sequence& sequence) {
  forget_failure();
  // An undo cut short is finished whatever the marker says: it converts
  // nothing, and the operator asked for the old data back.
  if (device_file_exists(path::marker) && read_state().state != State::rolling_back) {
    // The marker comes first, whatever the state says.
    note(LOG_NOTICE, "%s",
         read_state().state == State::pending ? log_line::marker_while_pending : log_line::marker_present);
  } else {
    // Without /usr/sav3 no migration can succeed, and the opening commands
    // would still delete and kill.
    const int staging = open(host_path(path::staging), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (staging < 0) {
      note(LOG_ERR, "%s", log_line::staging_not_folder);
    } else {
      if (flock(staging, LOCK_EX | LOCK_NB) == 0) {
        run_locked(run_command, sequence, staging);
      } else {
        note(LOG_NOTICE, "%s", log_line::locked);
      }
      close(staging);
    }
  }
}

}  // namespace sav3
