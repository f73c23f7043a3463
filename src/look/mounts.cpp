// The mounts below the trees, from the kernel's own list.
#include "mounts.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "sav3/device.h"
#include "sav3/migration_state.h"

namespace sav3 {

namespace {

MountMap g_map;

constexpr const char* mapped_trees[] = {path::staging, path::live, path::live2};

// A mountinfo field in place: "\040" and the other octal escapes of the
// kernel become their bytes. Returns the field's end.
char* unescape_field(char* field) {
  char* out = field;
  char* p = field;
  while (*p != '\0' && *p != ' ') {
    if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] >= '0' && p[2] <= '7' && p[3] >= '0' && p[3] <= '7') {
      *out++ = static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
      p += 4;
    } else {
      *out++ = *p++;
    }
  }
  const bool more = *p == ' ';
  *out = '\0';
  return more ? p + 1 : p;
}

// The folder a tree resolves to, as the kernel names it (links followed).
bool resolve(const char* tree, char (&resolved)[PATH_MAX], int& error) {
  const int fd = open(host_path(tree), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, resolved, sizeof resolved - 1);
  error = n < 0 ? errno : 0;
  close(fd);
  if (n < 0) return false;
  resolved[n] = '\0';
  return true;
}

// One mount point: recorded when it lies below a resolved tree.
bool place(MountMap& map, const char* point, const char (*resolved)[PATH_MAX], Failure& f) {
  for (std::size_t t = 0; t < std::size(mapped_trees); ++t) {
    const char* root = resolved[t];
    const std::size_t n = std::strlen(root);
    if (n == 0) continue;
    const bool below = n == 1 ? point[0] == '/' && point[1] != '\0'
                              : std::strncmp(point, root, n) == 0 && point[n] == '/' && point[n + 1] != '\0';
    if (!below) continue;
    const char* relative = point + (n == 1 ? 1 : n + 1);
    if (map.count == std::size(map.mounts) || std::strlen(relative) >= sizeof map.mounts[0].relative)
      return fail(f, precondition::mount_point, mapped_trees[t], "more mounts below it than the tool tracks");
    struct stat st;
    if (lstat(point, &st) != 0) return fail_errno(f, precondition::mount_point, point, errno);
    TreeMount& m = map.mounts[map.count++];
    m.tree = mapped_trees[t];
    std::snprintf(m.relative, sizeof m.relative, "%s", relative);
    m.root = identity_of(st);
  }
  return true;
}

}  // namespace

MountMap& run_mounts() { return g_map; }

bool map_mounts(MountMap& map, Failure& f) {
  map = MountMap{};
  static char resolved[std::size(mapped_trees)][PATH_MAX];
  for (std::size_t t = 0; t < std::size(mapped_trees); ++t) {
    int error = 0;
    resolved[t][0] = '\0';
    if (!resolve(mapped_trees[t], resolved[t], error) && !means_absent(error))
      return fail_errno(f, precondition::mount_point, mapped_trees[t], error);
  }
  constexpr char source[] = "/proc/self/mountinfo";
  const int fd = open(source, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail_errno(f, precondition::mount_point, source, errno);
  // Read in chunks, a line at a time; a line longer than the buffer cannot
  // be told and fails the map.
  static char buffer[16384];
  std::size_t held = 0;
  bool ok = true;
  for (;;) {
    const ssize_t n = read(fd, buffer + held, sizeof buffer - 1 - held);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = fail_errno(f, precondition::mount_point, source, errno);
      break;
    }
    held += static_cast<std::size_t>(n);
    buffer[held] = '\0';
    char* line = buffer;
    while (char* end = std::strchr(line, '\n')) {
      *end = '\0';
      // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ...
      char* field = line;
      for (int i = 0; i < 4 && field != nullptr; ++i) {
        field = std::strchr(field, ' ');
        if (field != nullptr) ++field;
      }
      if (field == nullptr) {
        ok = fail(f, precondition::mount_point, source, "a line without its mount point");
        break;
      }
      unescape_field(field);
      if (!place(map, field, resolved, f)) {
        ok = false;
        break;
      }
      line = end + 1;
    }
    if (!ok) break;
    const std::size_t rest = held - static_cast<std::size_t>(line - buffer);
    if (n == 0) {
      if (rest != 0) ok = fail(f, precondition::mount_point, source, "a line without its end");
      break;
    }
    if (rest == sizeof buffer - 1) {
      ok = fail(f, precondition::mount_point, source, "a line too long");
      break;
    }
    std::memmove(buffer, line, rest);
    held = rest;
  }
  close(fd);
  return ok;
}

bool crosses_mount(const struct stat& st, dev_t device) {
  if (st.st_dev != device) return true;
  const Identity id = identity_of(st);
  for (std::size_t i = 0; i < g_map.count; ++i)
    if (g_map.mounts[i].root == id) return true;
  return false;
}

}  // namespace sav3
