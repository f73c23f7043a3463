// Walking, removing and fingerprinting the device's trees, descriptor-relative,
// never following a link below the folder a walk starts in.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sav3 {

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

// Opens one of the trees (/usr/sav3, /usr/sav, /usr/sav2), links followed.
int open_device_folder(const char* device_path);

// Removes the entry `name` of the folder open at dirfd, recursively, never
// following a link and never entering a folder on another file system than
// `device` (left and logged); goes on after what it cannot remove (logged).
// `shown` is the device path for the log. Returns true when it is gone.
bool remove_entry(int dirfd, const char* name, const char* shown, dev_t device);
// The same for what the folder `name` holds, keeping the folder (a mount
// point on `device` that the copy refills). True when it is empty.
bool empty_folder(int dirfd, const char* name, const char* shown, dev_t device);

// The entry `name` of the folder open at dirfd is a folder on another file
// system than `device`, or holds one.
bool holds_mount_point(int dirfd, const char* name, dev_t device);

// Size and CRC-32 of the file open at fd, read in chunks from the start.
bool fingerprint_file(int fd, std::uint64_t& size, std::uint32_t& crc);

}  // namespace sav3
