// The mounts below the device's trees, read from /proc/self/mountinfo. A
// bind mount of a folder of the same file system is a mount of its own
// there, while st_dev alone does not tell it from a plain folder: rm -rf
// would empty it and, through it, the folder it shows.
#pragma once

#include <sys/stat.h>

#include <cstddef>

#include "sav3/look.h"

namespace sav3 {

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity&) const = default;
};
inline Identity identity_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// One mount below a tree: the tree's device path, the mount point's path
// relative to it ("data/sd") and the identity of the mounted folder.
struct TreeMount {
  const char* tree;
  char relative[256];
  Identity root;
};

struct MountMap {
  TreeMount mounts[32];
  std::size_t count;
};

// Reads the mounts below /usr/sav3, /usr/sav and /usr/sav2 (each resolved as
// far as it exists). False, with `f` filled, when mountinfo cannot be read
// whole or holds more mounts below the trees than the map has room for: a
// map that could not be made is never an empty one.
[[nodiscard]] bool map_mounts(MountMap& map, Failure& f);

// The map of the run: made by the checks before its first command, used by
// every removal after them.
MountMap& run_mounts();

// The entry is a mount point below a tree: on another file system than the
// tree's (`device`), or the root of a mount of the map (a bind mount).
[[nodiscard]] bool crosses_mount(const struct stat& st, dev_t device);

}  // namespace sav3
