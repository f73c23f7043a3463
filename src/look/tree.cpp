// Descriptor-relative work on the device's trees: removal that never follows
// a link or leaves its file system, and the fingerprint of a file.
#include "tree.h"

#include <syslog.h>

#include <cerrno>

#include "mounts.h"
#include "sav3/crc32.h"
#include "sav3/device.h"
#include "sav3/look.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"

namespace sav3 {

bool has_update(const char* name) { return std::strstr(name, "update") != nullptr; }

bool is_top_level(const char* relative_path) { return std::strchr(relative_path, '/') == nullptr; }

void name_failure(char* failed, std::size_t failed_size, const char* tree, const char* relative) {
  std::snprintf(failed, failed_size, "%s%s%s", tree, relative[0] ? "/" : "", relative);
}

namespace {

struct PathMark {
  std::size_t length;
  std::size_t hidden;
};

// Appends a name to the path, or shortens it visibly when it would not fit.
PathMark push_name(TreePath& path, const char* name) {
  const PathMark mark{path.length, path.hidden};
  const std::size_t n = std::strlen(name);
  const std::size_t slash = path.length != 0 ? 1 : 0;
  if (path.hidden == 0 && path.length + slash + n <= tree_path_max) {
    if (slash != 0) path.text[path.length] = '/';
    std::memcpy(path.text + path.length + slash, name, n + 1);
    path.length += slash + n;
  } else if (path.hidden++ == 0) {
    std::memcpy(path.text + path.length, "/...", 5);
    path.length += 4;
  }
  return mark;
}

void pop_name(TreePath& path, const PathMark& mark) {
  path.length = mark.length;
  path.hidden = mark.hidden;
  path.text[path.length] = '\0';
}

// A folder by identity: what a level keeps of itself (a frame per level,
// kept small: the status of the entry at hand lives in the walk).
struct FolderId {
  dev_t device;
  ino_t inode;
};

bool is_folder(const struct stat& st, const FolderId& id) {
  return st.st_dev == id.device && st.st_ino == id.inode;
}

struct Walk {
  const TreeVisitor& visitor;
  TreePath& path;
  DIR* open[open_tree_levels];  // the stream of level d in open[d % open_tree_levels], or none
  struct stat entry;            // the entry at hand
  bool stopped;
};

bool walk_level(Walk& walk, std::size_t depth, const FolderId& self);

// The first look that failed: the folder at hand (`name` nullptr) or its
// entry `name`, with the error.
void note_failed_look(Walk& walk, const char* name, int error) {
  TreePath& path = walk.path;
  if (path.error != 0) return;
  path.error = error;
  const PathMark mark = name != nullptr ? push_name(path, name) : PathMark{path.length, path.hidden};
  std::memcpy(path.failed, path.text, path.length + 1);
  pop_name(path, mark);
}

// A level's stream that gave way to a deeper one: opened again through ".."
// of the folder just walked (`below`), only if that is still this folder,
// and read up to the entry of the folder walked (`entry`, its d_ino), where
// the walk goes on. `name` becomes that entry's name.
DIR* reopen(Walk& walk, DIR* below, const FolderId& self, ino_t entry, const char*& name) {
  const int up = openat(::dirfd(below), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder that is no longer the one left: ESTALE, as for a handle to it.
  int error = up < 0 || fstat(up, &walk.entry) != 0 ? errno : ESTALE;
  DIR* dir = error == ESTALE && is_folder(walk.entry, self) ? fdopendir(up) : nullptr;
  if (dir == nullptr) {
    if (up >= 0) close(up);
    note_failed_look(walk, nullptr, error);
    return nullptr;
  }
  error = 0;
  while (const dirent* e = next_entry(dir, error)) {
    if (e->d_ino != entry) continue;
    name = e->d_name;
    return dir;
  }
  closedir(dir);
  note_failed_look(walk, nullptr, error != 0 ? error : ESTALE);
  return nullptr;
}

// Walks the folder `name` (walk.entry, not a link: checked again once open)
// of the level at `depth`, then leaves it.
bool walk_below(Walk& walk, std::size_t depth, const FolderId& self, const char*& name, ino_t entry) {
  DIR*& here = walk.open[depth % open_tree_levels];
  if (depth + 1 >= max_tree_depth) {
    note_failed_look(walk, nullptr, ENAMETOOLONG);
    return false;
  }
  const FolderId folder{walk.entry.st_dev, walk.entry.st_ino};
  const int fd = openat(::dirfd(here), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // A folder swapped for another since it was looked at: ESTALE.
  const int error = fd < 0 || fstat(fd, &walk.entry) != 0 ? errno : ESTALE;
  DIR* below = error == ESTALE && is_folder(walk.entry, folder) ? fdopendir(fd) : nullptr;
  if (below == nullptr) {
    if (fd >= 0) close(fd);
    note_failed_look(walk, nullptr, error);
    return false;
  }
  // The stream open_tree_levels levels up gives way.
  DIR*& deeper = walk.open[(depth + 1) % open_tree_levels];
  if (deeper != nullptr) closedir(deeper);
  deeper = below;
  bool ok = walk_level(walk, depth + 1, folder);
  if (here == nullptr && deeper != nullptr) here = reopen(walk, deeper, self, entry, name);
  if (here == nullptr || deeper == nullptr || fstat(::dirfd(deeper), &walk.entry) != 0 ||
      !walk.visitor.leave(walk.visitor.context, ::dirfd(here), name, walk.path.text, walk.entry,
                          ::dirfd(deeper)))
    ok = false;
  if (deeper != nullptr) closedir(deeper);
  deeper = nullptr;
  return ok;
}

bool walk_level(Walk& walk, std::size_t depth, const FolderId& self) {
  DIR*& here = walk.open[depth % open_tree_levels];
  bool ok = true;
  while (!walk.stopped && here != nullptr) {
    // A folder that cannot be read whole fails the walk: it is never one
    // that holds nothing more.
    int error = 0;
    const dirent* e = next_entry(here, error);
    if (e == nullptr) {
      if (error != 0) {
        note_failed_look(walk, nullptr, error);
        ok = false;
      }
      break;
    }
    const char* name = e->d_name;
    if (fstatat(::dirfd(here), name, &walk.entry, AT_SYMLINK_NOFOLLOW) != 0) {
      note_failed_look(walk, name, errno);
      ok = false;
      continue;
    }
    const PathMark mark = push_name(walk.path, name);
    if (walk.path.hidden != 0) {
      // Deeper than the shell's tools spell out: named as far as it shows.
      note_failed_look(walk, nullptr, ENAMETOOLONG);
      ok = false;
    }
    const Step step =
        walk.visitor.visit(walk.visitor.context, ::dirfd(here), name, walk.path.text, walk.entry);
    if (step == Step::stop) walk.stopped = true;
    if (step == Step::enter && S_ISDIR(walk.entry.st_mode) && !walk_below(walk, depth, self, name, e->d_ino))
      ok = false;
    pop_name(walk.path, mark);
  }
  return ok && here != nullptr && !walk.stopped;
}

}  // namespace

bool walk_tree(int dirfd, TreePath& path, const TreeVisitor& visitor) {
  Walk walk{visitor, path, {}, {}, false};
  const int own = dup(dirfd);
  DIR* dir = own >= 0 && fstat(own, &walk.entry) == 0 ? fdopendir(own) : nullptr;
  if (dir == nullptr) {
    note_failed_look(walk, nullptr, errno);
    if (own >= 0) close(own);
    return false;
  }
  rewinddir(dir);
  walk.open[0] = dir;
  const bool ok = walk_level(walk, 0, {walk.entry.st_dev, walk.entry.st_ino});
  for (DIR* left : walk.open)
    if (left != nullptr) closedir(left);
  return ok;
}

int open_device_folder(const char* device_path) {
  // Links on the way, the tree's own included, are followed: a live tree may
  // be a link to a data partition, and the checks before the first command
  // have made sure where each tree leads. Below it nothing is followed.
  return open(host_path(device_path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool make_device_folder(const char* device_path) {
  HostPath folder = host_path(device_path);
  if (mkdir(folder, 0755) != 0) return false;
  char* slash = std::strrchr(folder.text, '/');
  *slash = '\0';
  const int parent = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without the flush a cut could lose the new folder while the state file
  // says that the work went on.
  const bool flushed = parent >= 0 && fsync(parent) == 0;
  const int error = errno;
  if (parent >= 0) close(parent);
  errno = error;
  return flushed;
}

bool empty_folder(int dirfd, const char* name, const char* shown, dev_t device) {
  const int folder = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    note(LOG_WARNING, log_line::not_removed, escaped(shown).text);
    return false;
  }
  // The walk removes each entry as it visits it (folders on the way out);
  // the device path of an entry is `shown` followed by its relative path.
  TreePath below{};
  char entry_shown[sizeof below.text + 512];
  auto show = [&](const char* path) {
    std::snprintf(entry_shown, sizeof entry_shown, "%s/%s", shown, path);
    return entry_shown;
  };
  bool emptied = true;
  const bool walked = walk_tree(
      folder, below,
      [&](int parent, const char* entry, const char* path, const struct stat& est) {
        if (S_ISDIR(est.st_mode)) {
          if (!crosses_mount(est, device)) return Step::enter;
          note(LOG_WARNING, log_line::other_file_system, escaped(show(path)).text);
          emptied = false;
          return Step::next;
        }
        if (unlinkat(parent, entry, 0) != 0) {
          note(LOG_WARNING, log_line::not_removed, escaped(show(path)).text);
          emptied = false;
        }
        return Step::next;
      },
      [&](int parent, const char* entry, const char* path, const struct stat&, int) {
        if (unlinkat(parent, entry, AT_REMOVEDIR) == 0) return true;
        if (errno != ENOTEMPTY && errno != EEXIST)
          note(LOG_WARNING, log_line::not_removed, escaped(show(path)).text);
        emptied = false;
        return false;
      });
  // A walk that did not finish (a path too long to show, or a folder that
  // could not be read whole) has emptied the folder only if nothing is left.
  if (emptied && !walked) {
    const int again = dup(folder);
    DIR* dir = again >= 0 ? fdopendir(again) : nullptr;
    int error = 0;
    if (dir != nullptr) rewinddir(dir);
    emptied = dir != nullptr && next_entry(dir, error) == nullptr && error == 0;
    if (dir != nullptr)
      closedir(dir);
    else if (again >= 0)
      close(again);
  }
  close(folder);
  return emptied;
}

bool remove_entry(int dirfd, const char* name, const char* shown, dev_t device) {
  struct stat st;
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) {
    if (unlinkat(dirfd, name, 0) == 0) return true;
    note(LOG_WARNING, log_line::not_removed, escaped(shown).text);
    return false;
  }
  if (crosses_mount(st, device)) {
    note(LOG_WARNING, log_line::other_file_system, escaped(shown).text);
    return false;
  }
  // Whether it emptied the folder, the removal of the folder itself tells.
  static_cast<void>(empty_folder(dirfd, name, shown, device));
  if (unlinkat(dirfd, name, AT_REMOVEDIR) == 0) return true;
  if (errno != ENOTEMPTY && errno != EEXIST) note(LOG_WARNING, log_line::not_removed, escaped(shown).text);
  return false;
}

bool holds_mount_point(int live2, const char* name, dev_t device) {
  struct stat st;
  if (fstatat(live2, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (crosses_mount(st, device)) return true;
  // A folder that cannot be looked through whole may hold one: it is kept.
  const int folder = openat(live2, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return true;
  TreePath walked{};
  bool found = false;
  const bool whole = walk_tree(folder, walked, [&](int, const char*, const char*, const struct stat& est) {
    found = found || crosses_mount(est, device);
    return found ? Step::stop : Step::enter;
  });
  close(folder);
  return found || !whole;
}

bool copy_bytes(int from, int to, std::uint64_t& size, std::uint32_t& crc) {
  std::uint8_t chunk[64 * 1024];
  size = 0;
  crc = 0;
  if (lseek(from, 0, SEEK_SET) != 0) return false;
  for (;;) {
    const ssize_t n = read(from, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    crc = crc32(ConstBytes(chunk, static_cast<std::size_t>(n)), crc);
    size += static_cast<std::uint64_t>(n);
    for (ssize_t done = 0; to >= 0 && done < n;) {
      const ssize_t w = write(to, chunk + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) return false;
      if (w > 0) done += w;
    }
  }
}

bool fingerprint_file(int fd, std::uint64_t& size, std::uint32_t& crc) {
  return copy_bytes(fd, -1, size, crc);
}

}  // namespace sav3
