// Descriptor-relative work on the device's trees: removal that never follows
// a link or leaves its file system, and the fingerprint of a file.
#include "tree.h"

#include <syslog.h>

#include <cerrno>

#include "sav3/crc32.h"
#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"

namespace sav3 {

bool has_update(const char* name) { return std::strstr(name, "update") != nullptr; }

bool is_top_level(const char* relative_path) { return std::strchr(relative_path, '/') == nullptr; }

int open_device_folder(const char* device_path) {
  // Links on the way, the tree's own included, are followed: a live tree may
  // be a link to a data partition, and the checks before the first command
  // have made sure where each tree leads. Below it nothing is followed.
  return open(host_path(device_path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
  walk_tree(
      folder, below,
      [&](int parent, const char* entry, const char* path, const struct stat& est) {
        if (S_ISDIR(est.st_mode)) {
          if (est.st_dev == device) return Step::enter;
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
  if (st.st_dev != device) {
    note(LOG_WARNING, log_line::other_file_system, escaped(shown).text);
    return false;
  }
  empty_folder(dirfd, name, shown, device);
  if (unlinkat(dirfd, name, AT_REMOVEDIR) == 0) return true;
  if (errno != ENOTEMPTY && errno != EEXIST) note(LOG_WARNING, log_line::not_removed, escaped(shown).text);
  return false;
}

bool holds_mount_point(int live2, const char* name, dev_t device) {
  struct stat st;
  if (fstatat(live2, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_dev != device) return true;
  const int folder = openat(live2, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return false;
  TreePath walked{};
  bool found = false;
  walk_tree(folder, walked, [&](int, const char*, const char*, const struct stat& est) {
    found = found || est.st_dev != device;
    return found ? Step::stop : Step::enter;
  });
  close(folder);
  return found;
}

bool fingerprint_file(int fd, std::uint64_t& size, std::uint32_t& crc) {
  std::uint8_t chunk[64 * 1024];
  size = 0;
  crc = 0;
  if (lseek(fd, 0, SEEK_SET) != 0) return false;
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    crc = crc32(ConstBytes(chunk, static_cast<std::size_t>(n)), crc);
    size += static_cast<std::uint64_t>(n);
  }
}

}  // namespace sav3
