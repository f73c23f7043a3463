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

#include "../look/mounts.h"
#include "../look/tree.h"
#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {

bool splits_in_xargs(const char* name) {
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x21 || c == 0x7f || c == '\'' || c == '"' || c == '\\') return true;
  }
  return false;
}

// Why the shell command may not empty /usr/sav2: a name xargs would split,
// a path on another file system (rm -rf would empty a card mounted there) or
// a path too long for the shell's tools. `mount` names the first mount point.
enum class ShellTrouble { none, names, mount_point, too_long };

ShellTrouble shell_trouble(int live2, dev_t device, char (&mount)[sizeof TreePath{}.text + 16]) {
  TreePath walked{};
  ShellTrouble trouble = ShellTrouble::none;
  const bool listed =
      walk_tree(live2, walked, [&](int, const char* name, const char* path, const struct stat& st) {
        if (splits_in_xargs(name))
          trouble = ShellTrouble::names;
        else if (crosses_mount(st, device)) {
          trouble = ShellTrouble::mount_point;
          std::snprintf(mount, sizeof mount, "%s/%s", path::live2, path);
        } else if (std::strlen(path::live2) + 1 + std::strlen(path) > 4095)
          trouble = ShellTrouble::too_long;
        return trouble == ShellTrouble::none ? Step::enter : Step::stop;
      });
  // A path the walk could not list (too long, too deep, unreadable) is one
  // the shell would not handle either.
  if (trouble == ShellTrouble::none && !listed) trouble = ShellTrouble::too_long;
  return trouble;
}

void tell_trouble(ShellTrouble trouble, const char* mount, char* why, std::size_t capacity) {
  why[0] = '\0';
  if (trouble == ShellTrouble::names) std::snprintf(why, capacity, "%s", log_line::sav2_by_hand);
  if (trouble == ShellTrouble::mount_point)
    std::snprintf(why, capacity, log_line::sav2_by_hand_mount, escaped(mount).text);
  if (trouble == ShellTrouble::too_long) std::snprintf(why, capacity, "%s", log_line::sav2_by_hand_long);
}

void shown_path(char (&shown)[512], const char* name) {
  std::snprintf(shown, sizeof shown, "%s/%s", path::live2, name);
}

// The top-level entries of /usr/sav2 in turn; the callback may remove the
// entry it is given.
// the entry it is given. A listing that fails part-way is logged: the check
// after the copies then finds what was not removed.
template <class Each>
void each_top_level_entry(int live2, Each&& each) {
  TreePath walked{};
  if (!walk_tree(live2, walked, [&](int, const char* name, const char*, const struct stat& st) {
        each(name, st);
        return Step::next;
      }))
    note(LOG_WARNING, log_line::not_removed, path::live2);
}

}  // namespace

void live2_shell_trouble(char* why, std::size_t capacity) {
  why[0] = '\0';
  const int live2 = open_device_folder(path::live2);
  if (live2 < 0) return;
  struct stat root;
  char mount[sizeof TreePath{}.text + 16] = {};
  if (fstat(live2, &root) == 0) tell_trouble(shell_trouble(live2, root.st_dev, mount), mount, why, capacity);
  close(live2);
}

void empty_live2(CommandRunner run_command, const char* command) {
  const int live2 = open_device_folder(path::live2);
  if (live2 < 0) return;
  struct stat root;
  if (fstat(live2, &root) != 0) {
    close(live2);
    return;
  }
  const int staging = open_device_folder(path::staging);
  char shown[512];
  char mount[sizeof TreePath{}.text + 16] = {};
  const ShellTrouble trouble = shell_trouble(live2, root.st_dev, mount);
  if (trouble == ShellTrouble::none) {
    // From inside /usr/sav2, so that a piece of a split name could only
    // resolve there; without it the command is not issued.
    const int back = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (back >= 0 && change_device_directory(path::live2)) {
      run_command(command);
      // Back where the run started. May be dropped: nothing after this works
      // relative to the working directory (every path is absolute).
      static_cast<void>(fchdir(back));
    }
    if (back >= 0) close(back);
  } else {
    char why[sizeof mount + 128];
    tell_trouble(trouble, mount, why, sizeof why);
    note(LOG_NOTICE, "%s", why);
    each_top_level_entry(live2, [&](const char* name, const struct stat& st) {
      if (has_update(name)) return;
      shown_path(shown, name);
      struct stat staged;
      const bool named = staging >= 0 && fstatat(staging, name, &staged, AT_SYMLINK_NOFOLLOW) == 0;
      if (!named && holds_mount_point(live2, name, root.st_dev)) {
        // A card or partition the staging tree has no name for: left whole,
        // like an "update" entry.
        note(LOG_NOTICE, log_line::left_mount_point, escaped(shown).text);
        return;
      }
      if (named && S_ISDIR(st.st_mode) && crosses_mount(st, root.st_dev)) {
        // A folder the staging tree names, on its own partition: emptied
        // there, refilled by the copy. What stays is logged where it stays,
        // and the check after the copies finds it.
        static_cast<void>(empty_folder(live2, name, shown, st.st_dev));
        return;
      }
      // The same: logged, and found by the check after the copies.
      static_cast<void>(remove_entry(live2, name, shown, root.st_dev));
    });
  }
  // A kept entry that the copy would write through (a link, or a file with
  // other links: cp -rf writes into it in place) or fail on (a folder where
  // the staging tree has a file, or the reverse) goes as well.
  each_top_level_entry(live2, [&](const char* name, const struct stat& st) {
    struct stat staged;
    if (staging < 0 || name[0] == '.' || fstatat(staging, name, &staged, AT_SYMLINK_NOFOLLOW) != 0) return;
    const bool other_kind = S_ISLNK(st.st_mode) || (st.st_mode & S_IFMT) != (staged.st_mode & S_IFMT);
    const bool shared_file = S_ISREG(st.st_mode) && st.st_nlink > 1;
    if (!other_kind && !shared_file) return;
    shown_path(shown, name);
    if (remove_entry(live2, name, shown, root.st_dev))
      note(LOG_NOTICE, other_kind ? log_line::kept_entry_removed : log_line::kept_entry_linked_removed,
           escaped(shown).text);
  });
  if (staging >= 0) close(staging);
  close(live2);
}

}  // namespace sav3
