// Emptying /usr/sav2 but for its "update" entries, without ever reaching
// outside it.
//
// The shell command lists /usr/sav2 with find and hands the list to xargs,
// which splits it at blanks, tabs, newlines, carriage returns, vertical tabs
// and form feeds, groups quoted text, stops at an unmatched quote and drops
// backslashes: a folder "a " holding "usr" would list as "/usr/sav2/a /usr".
// So the command runs only when no listed path holds such a byte; otherwise
// the tool removes the same entries itself.
#include "sav2_wipe.h"

#include <syslog.h>

#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "tree.h"

namespace sav3 {

namespace {

bool splits_in_xargs(const char* name) {
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x21 || c == 0x7f || c == '\'' || c == '"' || c == '\\') return true;
  }
  return false;
}

// Every path below /usr/sav2, as find lists them (dot entries included).
bool names_well_behaved(int live2) {
  TreePath walked{};
  bool clean = true;
  const bool listed = walk_tree(live2, walked, [&](int, const char* name, const char*, const struct stat&) {
    if (!splits_in_xargs(name)) return Step::enter;
    clean = false;
    return Step::stop;
  });
  return clean && listed;
}

void shown_path(char (&shown)[512], const char* name) {
  std::snprintf(shown, sizeof shown, "%s/%s", path::live2, name);
}

// The top-level entries of /usr/sav2 in turn; the callback may remove the
// entry it is given.
template <class Each>
void each_top_level_entry(int live2, Each&& each) {
  TreePath walked{};
  walk_tree(live2, walked, [&](int, const char* name, const char*, const struct stat& st) {
    each(name, st);
    return Step::next;
  });
}

}  // namespace

void empty_live2(CommandRunner run_command, const char* command) {
  const int live2 = open_device_folder(path::live2);
  if (live2 < 0) return;
  struct stat root;
  if (fstat(live2, &root) != 0) {
    close(live2);
    return;
  }
  char shown[512];
  if (names_well_behaved(live2)) {
    // From inside /usr/sav2, so that a piece of a split name could only
    // resolve there; without it the command is not issued.
    if (change_device_directory(path::live2)) run_command(command);
  } else {
    note(LOG_NOTICE, "%s", log_line::sav2_by_hand);
    each_top_level_entry(live2, [&](const char* name, const struct stat&) {
      if (has_update(name)) return;
      shown_path(shown, name);
      remove_entry(live2, name, shown, root.st_dev);
    });
  }
  // A kept entry that the copy would write through (a link) or fail on (a
  // folder where the staging tree has a file, or the reverse) goes as well.
  const int staging = open_device_folder(path::staging);
  each_top_level_entry(live2, [&](const char* name, const struct stat& st) {
    struct stat staged;
    if (staging < 0 || name[0] == '.' || fstatat(staging, name, &staged, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IFMT) == (staged.st_mode & S_IFMT)) return;
    shown_path(shown, name);
    if (remove_entry(live2, name, shown, root.st_dev))
      note(LOG_NOTICE, log_line::kept_entry_removed, escaped(shown).text);
  });
  if (staging >= 0) close(staging);
  close(live2);
}

}  // namespace sav3
