// The checks before the first command. A device whose live tree is a link to
// the other, whose staging tree sits on a read-only mount or inside the live
// tree, or whose old reports fail to read would otherwise lose its old
// programs, its network (the DHCP client is killed) or its data at every boot
// for a migration that cannot succeed; each such cause can be seen before.
#include "preconditions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "room.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_inputs.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "tree.h"

namespace sav3 {

namespace {

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity&) const = default;
};

// A folder and the folders above it, up to the root (by the kernel's "..",
// so links on the way are resolved as the kernel resolves them).
struct Lineage {
  Identity chain[128];
  std::size_t length;
  bool exists;
  bool holds(const Identity& id) const {
    for (std::size_t i = 1; i < length; ++i)
      if (chain[i] == id) return true;
    return false;
  }
};

Lineage lineage_of(const char* device_path) {
  Lineage l{};
  int fd = open(host_path(device_path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return l;
  l.exists = true;
  while (l.length < std::size(l.chain)) {
    struct stat st;
    if (fstat(fd, &st) != 0) break;
    const Identity id{st.st_dev, st.st_ino};
    if (l.length > 0 && l.chain[l.length - 1] == id) break;  // the root is its own parent
    l.chain[l.length++] = id;
    const int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = parent;
    if (fd < 0) break;
  }
  if (fd >= 0) close(fd);
  return l;
}

bool fail(PreconditionFailure& f, const char* check, const char* path, const char* error) {
  f.check = check;
  std::snprintf(f.path, sizeof f.path, "%s", escaped(path).text);
  std::snprintf(f.error, sizeof f.error, "%s", escaped(error).text);
  return false;
}

bool fail_errno(PreconditionFailure& f, const char* check, const char* path, int error) {
  return fail(f, check, path, read_error_text(error));
}

constexpr const char* trees[] = {path::staging, path::live, path::live2};

// (a) Each tree resolves to a folder; a live tree may be missing (it is
// created once every check holds), but not a dangling link.
bool trees_are_folders(PreconditionFailure& f) {
  for (const char* tree : trees) {
    struct stat st;
    if (stat(host_path(tree), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return fail_errno(f, precondition::folder, tree, ENOTDIR);
      continue;
    }
    const int error = errno;
    if (error == ENOENT && tree != path::staging && lstat(host_path(tree), &st) != 0) continue;
    return fail_errno(f, precondition::folder, tree, error);
  }
  return true;
}

// (b) No tree is, holds or lies inside another, and none is or holds the
// legacy configuration, the old programs or the marker's folder.
bool trees_are_separate(PreconditionFailure& f) {
  constexpr const char* kept_apart[] = {"/", "/mnt/1/cfg", "/mnt/1/etc", "/mnt/2", "/mnt/data"};
  Lineage tree[std::size(trees)];
  for (std::size_t i = 0; i < std::size(trees); ++i) tree[i] = lineage_of(trees[i]);
  char why[160];
  auto compare = [&](const Lineage& a, const char* a_name, const Lineage& b, const char* b_name,
                     bool inside) {
    if (!a.exists || !b.exists) return true;
    const char* how = nullptr;
    if (a.chain[0] == b.chain[0])
      how = "the same folder as";
    else if (inside && a.holds(b.chain[0]))
      how = "inside";
    else if (b.holds(a.chain[0]))
      how = "holds";
    if (how == nullptr) return true;
    std::snprintf(why, sizeof why, "%s %s", how, b_name);
    return fail(f, precondition::separate, a_name, why);
  };
  for (std::size_t i = 0; i < std::size(trees); ++i)
    for (std::size_t j = 0; j < std::size(trees); ++j)
      if (i != j && !compare(tree[i], trees[i], tree[j], trees[j], true)) return false;
  for (std::size_t i = 0; i < std::size(trees); ++i) {
    for (const char* other : kept_apart) {
      // A tree may lie inside them (a live tree on the data partition); it
      // must not be or hold them.
      if (!compare(tree[i], trees[i], lineage_of(other), other, false)) return false;
    }
  }
  return true;
}

// (c) A folder on a file system mounted read-write where a file can be
// created; a missing live tree is judged by the folder it will be made in.
bool writable(const char* tree, bool probe, PreconditionFailure& f) {
  char folder[512];
  std::snprintf(folder, sizeof folder, "%s", tree);
  struct stat st;
  if (stat(host_path(folder), &st) != 0) *std::strrchr(folder, '/') = '\0';
  struct statvfs fs;
  if (statvfs(host_path(folder[0] ? folder : "/"), &fs) != 0)
    return fail_errno(f, precondition::writable, tree, errno);
  if ((fs.f_flag & ST_RDONLY) != 0) return fail_errno(f, precondition::writable, tree, EROFS);
  if (!probe) {
    if (access(host_path(folder[0] ? folder : "/"), W_OK) != 0)
      return fail_errno(f, precondition::writable, tree, errno);
    return true;
  }
  const int fd = open(host_path(folder[0] ? folder : "/"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail_errno(f, precondition::writable, tree, errno);
  // A probe left by a run cut short is removed first (its absence is the
  // usual case: the result tells nothing the create below does not).
  constexpr char name[] = ".sav3-probe";
  static_cast<void>(unlinkat(fd, name, 0));
  const int made = openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int error = errno;
  if (made >= 0) {
    close(made);
    // May be dropped: a probe that stays is removed by the next check.
    static_cast<void>(unlinkat(fd, name, 0));
  }
  close(fd);
  return made >= 0 || fail_errno(f, precondition::writable, tree, error);
}

// (d) What the opening copies read is no FIFO, socket or device node: cp
// would block on a FIFO and read a device.
bool copy_source_ok(const char* path, PreconditionFailure& f) {
  struct stat st;
  if (stat(host_path(path), &st) != 0) return true;  // missing, or a dangling link: cp skips it
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return true;
  return fail_errno(f, precondition::copy_source, path, not_a_regular_file);
}

bool copy_sources_ok(PreconditionFailure& f) {
  for (const char* folder : {"/mnt/1/cfg", "/mnt/1/etc"}) {
    DIR* dir = opendir(host_path(folder));
    if (dir == nullptr) continue;
    bool ok = true;
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      char entry[512];
      if (std::snprintf(entry, sizeof entry, "%s/%s", folder, e->d_name) >= static_cast<int>(sizeof entry))
        continue;
      if (!copy_source_ok(entry, f)) {
        ok = false;
        break;
      }
    }
    closedir(dir);
    if (!ok) return false;
  }
  return copy_source_ok("/usr/sav/update_log", f) && copy_source_ok("/usr/sav/data/userlogindata.txt", f);
}

// Every legacy input of the device's modules that exists reads as far as
// its converters read it.
bool legacy_inputs_read(PreconditionFailure& f) {
  std::uint8_t inventory[inventory::record_size] = {};
  fill_device_inventory(inventory);
  NamedLegacyInput inputs[max_legacy_inputs];
  const std::size_t n = legacy_inputs_of(inventory, inputs);
  for (std::size_t i = 0; i < n; ++i) {
    const InputReading r = read_legacy_input(inputs[i].path, *inputs[i].input);
    if (r.look == LegacyLook::unreadable)
      return fail_errno(f, precondition::legacy_input, inputs[i].path, r.error);
  }
  return true;
}

// (f) rm -rf /usr/sav/* cannot remove a mount point: below a top-level name
// that the staging tree will not have, it would stay, emptied, for good.
bool staging_will_name(const char* name) {
  for (const char* folder : {path::staging_data, path::staging_cfg, path::staging_etc, path::staging_history})
    if (std::strcmp(name, std::strrchr(folder, '/') + 1) == 0) return true;
  return std::strcmp(name, "update_log") == 0;
}

bool no_mount_below_live(PreconditionFailure& f) {
  const int live = open_device_folder(path::live);
  if (live < 0) return true;  // missing: created later
  struct stat root;
  bool ok = fstat(live, &root) == 0;
  TreePath walked{};
  char found[sizeof walked.text + 16] = {};
  walk_tree(live, walked, [&](int, const char* name, const char* relative, const struct stat& st) {
    if (is_top_level(relative) && (name[0] == '.' || staging_will_name(name))) return Step::next;
    if (st.st_dev == root.st_dev) return Step::enter;
    std::snprintf(found, sizeof found, "%s/%s", path::live, relative);
    return Step::stop;
  });
  close(live);
  if (found[0] != '\0')
    return fail(f, precondition::mount_point, found, "below a name the staging tree lacks");
  return ok;
}

}  // namespace

// (e) The predicted staging tree fits on its file system, and the live
// trees' copies of it on theirs.
bool room_predicted(PreconditionFailure& f, RoomTally& tally) {
  StagingPrediction prediction;
  predict_staging_tree(prediction);
  tally = RoomTally{};
  std::uint64_t staging_blocks = 0;
  char failed[64];
  bool ok = staging_has_room(prediction, tally, staging_blocks) &&
            enough_room(failed, sizeof failed, &prediction, staging_blocks, &tally);
  if (ok) return true;
  const RoomTally::FileSystem* last = tally.count > 0 ? &tally.seen[tally.count - 1] : nullptr;
  if (last == nullptr || last->enough) return fail(f, precondition::room, path::staging, "cannot tell");
  char why[96];
  std::snprintf(why, sizeof why, "need %llu KiB, free %llu KiB",
                static_cast<unsigned long long>(last->need_kib),
                static_cast<unsigned long long>(last->free_kib));
  return fail(f, precondition::room, last->tree, why);
}

bool preconditions_hold(RunKind kind, bool probe, PreconditionFailure& failure, RoomTally* room) {
  failure = PreconditionFailure{};
  RoomTally own{};
  if (!trees_are_folders(failure) || !trees_are_separate(failure)) return false;
  // A resume needs no writable staging folder: it only reads the manifest
  // (and writes the attempt count where it can).
  if (kind == RunKind::full && !writable(path::staging, probe, failure)) return false;
  if (!writable(path::live, probe, failure) || !writable(path::live2, probe, failure)) return false;
  if (kind == RunKind::resume) return true;
  return copy_sources_ok(failure) && legacy_inputs_read(failure) &&
         room_predicted(failure, room != nullptr ? *room : own) && no_mount_below_live(failure);
}

}  // namespace sav3
