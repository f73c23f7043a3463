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
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <syslog.h>

#include <cerrno>

#include "manifest.h"
#include "room.h"
#include "sav2_wipe.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/k3.h"
#include "sav3/lq_zrt.h"
#include "sav3/migration_state.h"
#include "sav3/replacement.h"
#include "state_file.h"
#include "tree.h"

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

// Both live trees are folders; a missing one is created (and its parent
// flushed). `failed` names the one that is not.
bool live_folders_ready(char* failed, std::size_t failed_size) {
  for (const char* live : {path::live, path::live2}) {
    struct stat st;
    bool ready = lstat(host_path(live), &st) == 0 && S_ISDIR(st.st_mode);
    if (!ready && errno == ENOENT && mkdir(host_path(live), 0755) == 0) {
      HostPath parent = host_path(live);
      *std::strrchr(parent.text, '/') = '\0';
      const int folder = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folder >= 0) {
        fsync(folder);
        close(folder);
      }
      note(LOG_NOTICE, log_line::live_created, live);
      ready = true;
    }
    if (!ready) {
      note(LOG_ERR, log_line::live_not_folder, live);
      std::snprintf(failed, failed_size, "%s", live);
      return false;
    }
  }
  return true;
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
  char failed[sizeof TreePath{}.text + 64];
  if (!tree_matches_manifest(path::live, TreeRule::live, true, failed, sizeof failed) ||
      !tree_matches_manifest(path::live2, TreeRule::live2, true, failed, sizeof failed)) {
    note(LOG_ERR, log_line::verification_failed, escaped(failed).text);
    return false;
  }
  if (!write_state("%s", state_word::done)) return false;
  note(LOG_NOTICE, "%s", log_line::done);
  return true;
}

// The state "kept <reason>" (best effort: the live trees are untouched).
void keep_live_trees(const char* reason_format, const char* detail) {
  char reason[1024];
  std::snprintf(reason, sizeof reason, reason_format, detail);
  write_state("%s %s", state_word::kept, reason);
}

void abandon(int attempts) {
  char reason[64];
  std::snprintf(reason, sizeof reason, abandoned_reason, attempts);
  write_state("%s %s", state_word::abandoned, reason);
  note(LOG_ERR, log_line::abandoned, attempts);
}

// A full run: the state is removed, the opening commands and the conversions
// run, and only a complete staging tree, live folders, enough room and the
// state "pending" with the flushed staging tree's manifest let the
// replacement start. Otherwise the state says why the live trees were kept.
void full_run(CommandRunner run_command, const Sequence& sequence, const char* why) {
  note(LOG_NOTICE, "%s", why);
  remove_state();
  char failed[sizeof TreePath{}.text + 64] = {};
  if (!sequence.build_staging_tree(run_command, failed, sizeof failed)) {
    write_state("%s %s", state_word::kept, failed);
    return;
  }
  if (!live_folders_ready(failed, sizeof failed)) {
    keep_live_trees(kept_reason::live_not_folder, failed);
    return;
  }
  if (!enough_room(failed, sizeof failed)) {
    keep_live_trees(kept_reason::no_room, failed);
    return;
  }
  std::FILE* state = begin_state(state_word::pending);
  if (state == nullptr) {
    note(LOG_ERR, log_line::state_not_written, state_word::pending);
    keep_live_trees(kept_reason::state_not_written, state_word::pending);
    return;
  }
  std::fprintf(state, "%s 0\n", state_word::attempts);
  if (!write_staging_manifest(state, failed, sizeof failed)) {
    discard_state(state);
    const auto shown = escaped(failed);
    note(LOG_ERR, log_line::staging_unreadable, shown.text);
    keep_live_trees(kept_reason::staging_unreadable, shown.text);
    return;
  }
  if (!commit_state(state)) {
    note(LOG_ERR, log_line::state_not_written, state_word::pending);
    keep_live_trees(kept_reason::state_not_written, state_word::pending);
    return;
  }
  replace_live_trees(run_command, sequence);
}

// A resume: the staging tree stays as it is, no conversion and no opening
// command runs. Every failure leaves the state "pending" (the live trees may
// already be empty); the third failed attempt abandons.
void resume(CommandRunner run_command, const Sequence& sequence, int attempts) {
  if (attempts >= max_attempts) {
    abandon(attempts);
    return;
  }
  const int attempt = attempts + 1;
  std::FILE* state = begin_state(state_word::pending);
  if (state == nullptr || std::fprintf(state, "%s %d\n", state_word::attempts, attempt) < 0 ||
      !copy_manifest(state) || !commit_state(state)) {
    if (state != nullptr) discard_state(state);
    note(LOG_ERR, log_line::state_not_written, state_word::pending);
    return;
  }
  note(LOG_NOTICE, log_line::resumed, attempt);
  char failed[sizeof TreePath{}.text + 64];
  bool finished = false;
  if (!tree_matches_manifest(path::staging, TreeRule::staging, false, failed, sizeof failed)) {
    note(LOG_ERR, log_line::manifest_mismatch, escaped(failed).text);
  } else if (live_folders_ready(failed, sizeof failed) && enough_room(failed, sizeof failed)) {
    finished = replace_live_trees(run_command, sequence);
  }
  if (!finished && attempt >= max_attempts) abandon(attempt);
}

void run_locked(CommandRunner run_command, const Sequence& sequence, int staging) {
  const StateInfo state = read_state();
  switch (state.state) {
    case State::unreadable: note(LOG_ERR, "%s", log_line::state_unreadable); return;
    case State::abandoned: note(LOG_NOTICE, "%s", log_line::abandoned_found); return;
    case State::done:
      if (!legacy_reports_back()) {
        note(LOG_NOTICE, "%s", log_line::already_done);
        return;
      }
      break;
    default: break;
  }
  if (staging_on_volatile_file_system(staging)) note(LOG_WARNING, "%s", log_line::staging_on_tmpfs);
  switch (state.state) {
    case State::pending: resume(run_command, sequence, state.attempts); return;
    case State::kept: full_run(run_command, sequence, log_line::full_run_after_kept); return;
    case State::done: full_run(run_command, sequence, log_line::full_run_reports_back); return;
    default: full_run(run_command, sequence, log_line::full_run_no_state); return;
  }
}

}  // namespace

void run_replacement(CommandRunner run_command, const Sequence& sequence) {
  if (device_file_exists(path::marker)) {
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
