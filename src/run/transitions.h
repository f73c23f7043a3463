// What a run decides before it acts, shared by the run at boot and by the
// check that tells beforehand what such a run would do.
#pragma once

#include "../state/state_file.h"

namespace sav3 {

// What a run does for the state it finds, before any check of the device.
struct Course {
  enum Kind { stop, resume, full, undo } kind;
  int priority;      // of its log line
  const char* line;  // stop: why (a log line, "%d": count); full: why a full run
  int count;         // stop: the runs found; resume: the attempt it starts; full: the runs found
};
Course course_for(const StateInfo& state);

// One of the legacy reports that the history conversions read is back under
// /usr/sav/data: an old firmware has run since the last migration.
bool legacy_reports_back();
// The folder open at `staging` is on tmpfs or ramfs.
bool staging_on_volatile_file_system(int staging);
// A live tree lacks an entry that the manifest of the state file lists.
bool lacks_listed_entry(const char* tree);

}  // namespace sav3
