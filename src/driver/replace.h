// The pieces of the live-tree replacement, shared by the files of the driver.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sav3/driver.h"

namespace sav3 {

// ---- log (log.cpp) ---------------------------------------------------------

void set_logger(Logger log);
// One log line from a format of sav3/migration_state.h.
void note(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A device path (or name) escaped for a log line or a state line.
struct Escaped {
  char text[512];
  operator const char*() const { return text; }
};
Escaped escaped(const char* name);

// ---- trees (tree.cpp) ------------------------------------------------------

// A path relative to the folder a walk started in ("cfg/port0").
struct TreePath {
  char text[4096];
  std::size_t length;
};

// What a walk does with a folder it has just visited.
enum class Step { enter, next, stop };

inline constexpr int max_tree_depth = 64;

bool has_update(const char* name);  // the name holds the bytes "update"
bool is_top_level(const char* relative_path);

// Every entry below the folder open at dirfd, depth first, links never
// followed: visit(dirfd, name, path, st) first; for a folder that it enters,
// its entries, then leave(dirfd, name, path, st, folder_fd). Returns false
// when a folder could not be read, a path was too long, visit said stop or
// leave failed (the walk goes on after all but stop).
template <class Visit, class Leave>
bool walk_tree(int dirfd, TreePath& path, Visit&& visit, Leave&& leave, int depth = 0) {
  if (depth >= max_tree_depth) return false;
  const int own = dup(dirfd);
  if (own < 0) return false;
  DIR* dir = fdopendir(own);
  if (dir == nullptr) {
    close(own);
    return false;
  }
  rewinddir(dir);
  bool ok = true;
  const std::size_t mark = path.length;
  while (dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = false;
      continue;
    }
    const int n = std::snprintf(path.text + mark, sizeof path.text - mark, "%s%s", mark ? "/" : "", name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path.text - mark) {
      path.text[mark] = '\0';
      ok = false;
      continue;
    }
    path.length = mark + static_cast<std::size_t>(n);
    const Step step = visit(dirfd, name, path.text, st);
    if (step == Step::stop) {
      ok = false;
      path.length = mark;
      path.text[mark] = '\0';
      break;
    }
    if (step == Step::enter && S_ISDIR(st.st_mode)) {
      const int sub = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        ok = false;
      } else {
        if (!walk_tree(sub, path, visit, leave, depth + 1)) ok = false;
        if (!leave(dirfd, name, path.text, st, sub)) ok = false;
        close(sub);
      }
    }
    path.length = mark;
    path.text[mark] = '\0';
  }
  closedir(dir);
  return ok;
}

// The same without anything to do on leaving a folder.
template <class Visit>
bool walk_tree(int dirfd, TreePath& path, Visit&& visit) {
  return walk_tree(dirfd, path, visit,
                   [](int, const char*, const char*, const struct stat&, int) { return true; });
}

// Opens a device folder without following a link at its last step.
int open_device_folder(const char* device_path);

// Removes the entry `name` of the folder open at dirfd, recursively, never
// following a link and never entering a folder on another file system than
// `device` (left and logged); goes on after what it cannot remove (logged).
// `shown` is the device path for the log. Returns true when it is gone.
bool remove_entry(int dirfd, const char* name, const char* shown, dev_t device);

// Size and CRC-32 of the file open at fd, read in chunks from the start.
bool fingerprint_file(int fd, std::uint64_t& size, std::uint32_t& crc);

// ---- state file (state_file.cpp) -------------------------------------------

enum class State { none, pending, done, kept, abandoned, unreadable };
struct StateInfo {
  State state;
  int attempts;
};
StateInfo read_state();

// A new state file: begin_state writes its first line to the temporary file;
// commit_state flushes it, renames it over the state file and flushes
// /usr/sav3. Both return false (and clean up) on any failure.
std::FILE* begin_state(const char* first_line);
bool commit_state(std::FILE* file);
void discard_state(std::FILE* file);
// A one-line state ("done", "kept <reason>" ...).
bool write_state(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A full run starts without a state: the file (and a stale temporary one) is
// removed and /usr/sav3 flushed.
bool remove_state();

// One manifest line.
struct ManifestEntry {
  char kind;  // 'd' folder, 'f' file, 'l' link
  std::uint64_t size;
  std::uint32_t crc;
  char path[4096];  // relative to the tree, unescaped
};
// The state file open after its "attempts" line, ready for next_manifest_entry.
std::FILE* open_manifest();
// 1: an entry; 0: the end; -1: a line that is not a manifest line.
int next_manifest_entry(std::FILE* manifest, ManifestEntry& entry);
bool write_manifest_entry(std::FILE* out, const ManifestEntry& entry);
// The manifest lines of the state file as they are, onto a new state.
bool copy_manifest(std::FILE* out);

// ---- manifest and checks (manifest.cpp) -------------------------------------

// Writes the manifest of the staging tree to `out`, flushing every file and
// folder of it to the medium as it goes. On failure `failed` names the entry.
bool write_staging_manifest(std::FILE* out, char* failed, std::size_t failed_size);

// Which entries of a tree the manifest describes exactly.
enum class TreeRule {
  staging,  // all but the top-level dot entries (the state files)
  live,     // /usr/sav: all but the top-level dot entries (rm -rf /usr/sav/* keeps them)
  live2,    // /usr/sav2: top-level entries with "update" in their name may hold more
};
// The tree holds exactly the manifest's entries with the same kinds and bytes;
// with `flush`, every file and folder checked is flushed to the medium.
bool tree_matches_manifest(const char* tree, TreeRule rule, bool flush, char* failed,
                           std::size_t failed_size);

// ---- room (room.cpp) ---------------------------------------------------------

// The room check over the file systems of both live trees; logs a shortfall
// and names the live tree in `failed`.
bool enough_room(char* failed, std::size_t failed_size);

// ---- /usr/sav2 (sav2_wipe.cpp) ------------------------------------------------

// Empties /usr/sav2 but for its "update" entries: the shell command when every
// name is well behaved, else entry by entry; then removes kept entries that
// the copy would write through or fail on.
void empty_live2(CommandRunner run_command, const char* command);

}  // namespace sav3
