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
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../look/mounts.h"
#include "../look/tree.h"
#include "room.h"
#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_inputs.h"
#include "sav3/look.h"
#include "sav3/migration_state.h"
#include "sav3/output_files.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {

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
  bool is_or_holds(const Identity& id) const { return exists && (chain[0] == id || holds(id)); }
};

// The lineage of the folder open at fd (which it closes).
Lineage lineage_from(int fd) {
  Lineage l{};
  l.exists = fd >= 0;
  while (fd >= 0 && l.length < std::size(l.chain)) {
    struct stat st;
    if (fstat(fd, &st) != 0) break;
    const Identity id = identity_of(st);
    if (l.length > 0 && l.chain[l.length - 1] == id) break;  // the root is its own parent
    l.chain[l.length++] = id;
    const int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = parent;
  }
  if (fd >= 0) close(fd);
  return l;
}

Lineage lineage_of(const char* device_path) {
  return lineage_from(open(host_path(device_path), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The lineage of the folder that holds what a device path leads to (links
// followed, the last one included): where that entry really lies. Resolved
// by name (realpath), so that the entry itself is not opened again.
Lineage resolved_lineage(const char* device_path, Look& look) {
  static char where[PATH_MAX];
  if (realpath(host_path(device_path), where) == nullptr) {
    look = {means_absent(errno) ? Seen::absent : Seen::failed, errno, {}};
    return Lineage{};
  }
  look = {Seen::present, 0, {}};
  char* slash = std::strrchr(where, '/');
  if (slash == where) ++slash;
  *slash = '\0';
  return lineage_from(open(where, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

constexpr const char* trees[] = {path::staging, path::live, path::live2};
constexpr const char* kept_apart[] = {"/", path::legacy_cfg, path::legacy_etc, path::old_programs_partition,
                                      path::marker_folder};

// (a) Each tree resolves to a folder; a live tree may be missing (it is
// created once every check holds), but not a dangling link. A look that
// fails is no answer: the run stops there.
bool trees_are_folders(Failure& f, bool& staging_sound) {
  for (const char* tree : trees) {
    const Look look = look_path(tree, true);
    if (look.seen == Seen::present) {
      if (!S_ISDIR(look.st.st_mode)) {
        staging_sound = staging_sound && tree != path::staging;
        return fail_errno(f, precondition::folder, tree, ENOTDIR);
      }
      continue;
    }
    if (look.seen == Seen::absent && tree != path::staging) {
      const Look link = look_path(tree, false);
      if (link.seen == Seen::absent) continue;
      if (link.seen == Seen::failed) return fail_errno(f, precondition::folder, tree, link.error);
    }
    staging_sound = staging_sound && tree != path::staging;
    return fail_errno(f, precondition::folder, tree, look.error);
  }
  return true;
}

// (b) No tree is, holds or lies inside another, and none is or holds the
// legacy configuration, the old programs or the marker's folder.
bool trees_are_separate(Failure& f, bool& staging_sound) {
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
    // A staging tree that is not apart takes no state file and no probe:
    // they would land in the other tree.
    staging_sound = staging_sound && a_name != path::staging && b_name != path::staging;
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

// The names the staging tree will have at its top: its four folders and
// the files copied into it (the update log).
bool same_name(const char* name, std::size_t n, const char* own) {
  return std::strlen(own) == n && std::strncmp(name, own, n) == 0;
}
bool staging_folder_name(const char* name, std::size_t n) {
  for (const char* folder : staging_folders)
    if (same_name(name, n, last_name(folder))) return true;
  return false;
}
bool staging_will_name(const char* name, std::size_t n) {
  if (staging_folder_name(name, n)) return true;
  for (const CopySource& source : copy_sources)
    if (!source.folder_entries && source.into == path::staging && same_name(name, n, last_name(source.from)))
      return true;
  return false;
}

}  // namespace

bool staging_tree_names(const char* name) { return staging_will_name(name, std::strlen(name)); }

namespace {

// (a) of the plan: no removal crosses a mount point and nothing removed or
// written lies outside the trees. rm -rf empties a mount point below what it
// removes (a card, or through a bind mount the folder it shows) and cannot
// remove it. Allowed: a mount at a top-level folder name of the staging
// tree in a live tree (emptied and refilled on its own file system), a
// mount under /usr/sav's dot entries (no command touches them), and one in a
// top-level entry of /usr/sav2 that the staging tree does not name (left
// whole, like an "update" entry). Nor may a mount below a tree show another
// tree, the legacy configuration, the old programs or the marker's folder.
}  // namespace

bool mounts_contained(const MountMap& map, Failure& f, bool& staging_sound) {
  static char shown[512];
  for (std::size_t i = 0; i < map.count; ++i) {
    const TreeMount& m = map.mounts[i];
    std::snprintf(shown, sizeof shown, "%s/%s", m.tree, m.relative);
    const char* slash = std::strchr(m.relative, '/');
    const std::size_t top =
        slash != nullptr ? static_cast<std::size_t>(slash - m.relative) : std::strlen(m.relative);
    const bool deeper = slash != nullptr;
    const char* why = nullptr;
    if (m.tree == path::staging) {
      why = "below the staging tree, which the opening commands empty";
    } else if (m.tree == path::live) {
      if (m.relative[0] != '.' && (deeper || !staging_folder_name(m.relative, top)))
        why = deeper && staging_will_name(m.relative, top) ? "inside a folder the copy refills"
                                                           : "below a name the staging tree lacks";
    } else if (staging_will_name(m.relative, top) && (deeper || !staging_folder_name(m.relative, top))) {
      why = "inside a folder the copy refills";
    }
    if (why != nullptr) return fail(f, precondition::mount_point, shown, why);
    for (const char* other : trees) {
      const Lineage l = lineage_of(other);
      if (l.is_or_holds(m.root)) {
        staging_sound = staging_sound && other != path::staging;
        char what[64];
        std::snprintf(what, sizeof what, "shows %s", other);
        return fail(f, precondition::separate, shown, what);
      }
    }
    for (const char* other : kept_apart) {
      if (std::strcmp(other, "/") == 0) continue;
      if (lineage_of(other).is_or_holds(m.root)) {
        char what[64];
        std::snprintf(what, sizeof what, "shows %s", other);
        return fail(f, precondition::separate, shown, what);
      }
    }
  }
  return true;
}

namespace {

// (c) A folder on a file system mounted read-write where a file can be
// created; a missing live tree is judged by the folder it will be made in.
// The names the run will write there must be free for it: a folder at the
// probe's name, or at the state file's temporary name, cannot be removed.
bool writable(const char* tree, bool probe, Failure& f) {
  char folder[512];
  std::snprintf(folder, sizeof folder, "%s", tree);
  const Look look = look_path(folder, true);
  if (look.seen == Seen::failed) return fail_errno(f, precondition::writable, tree, look.error);
  if (look.seen == Seen::absent) *std::strrchr(folder, '/') = '\0';
  const char* where = folder[0] ? folder : "/";
  struct statvfs fs;
  if (statvfs(host_path(where), &fs) != 0) return fail_errno(f, precondition::writable, tree, errno);
  if ((fs.f_flag & ST_RDONLY) != 0) return fail_errno(f, precondition::writable, tree, EROFS);
  constexpr char name[] = ".sav3-probe";
  char taken[600];
  const char* const own_names[] = {name,
                                   tree == path::staging ? path::state_temp + sizeof path::staging : nullptr};
  for (const char* own : own_names) {
    if (own == nullptr || look.seen == Seen::absent) continue;
    std::snprintf(taken, sizeof taken, "%s/%s", tree, own);
    const Look at = look_path(taken, false);
    if (at.seen == Seen::failed) return fail_errno(f, precondition::writable, taken, at.error);
    if (at.seen == Seen::present && S_ISDIR(at.st.st_mode))
      return fail_errno(f, precondition::writable, taken, EISDIR);
  }
  if (!probe) {
    if (access(host_path(where), W_OK) != 0) return fail_errno(f, precondition::writable, tree, errno);
    return true;
  }
  const int fd = open(host_path(where), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail_errno(f, precondition::writable, tree, errno);
  // A probe left by a run cut short is removed first (its absence is the
  // usual case: the result tells nothing the create below does not).
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

// (b) of the plan: what the conversions and the opening copies read must
// not lie where the opening commands delete it first ("rm -rf /usr/sav3/*"
// runs before any of them reads).
bool read_before_removed(const char* path, const char* check, Failure& f) {
  Look look;
  const Lineage l = resolved_lineage(path, look);
  if (look.seen == Seen::absent) return true;
  if (look.seen == Seen::failed) return fail_errno(f, check, path, look.error);
  const Lineage staging = lineage_of(path::staging);
  if (staging.exists && l.is_or_holds(staging.chain[0]))
    return fail(f, check, path, "lies in /usr/sav3, which the opening commands empty first");
  return true;
}

// (d) What the opening copies read is no FIFO, socket or device node: cp
// would block on a FIFO and read a device. A look that fails is not "cp
// skips it": the copy would silently lack it.
bool copy_source_ok(const char* path, Failure& f) {
  const Look look = look_path(path, true);
  if (look.seen == Seen::failed) return fail_errno(f, precondition::copy_source, path, look.error);
  if (look.seen == Seen::absent) return true;  // missing, or a dangling link: cp skips it
  if (!S_ISREG(look.st.st_mode) && !S_ISDIR(look.st.st_mode))
    return fail_errno(f, precondition::copy_source, path, not_a_regular_file);
  return read_before_removed(path, precondition::copy_source, f);
}

bool copy_sources_ok(Failure& f) {
  for (const CopySource& source : copy_sources) {
    if (!source.folder_entries) {
      if (!copy_source_ok(source.from, f)) return false;
      continue;
    }
    const char* folder = source.from;
    DIR* dir = opendir(host_path(folder));
    if (dir == nullptr) {
      if (means_absent(errno)) continue;
      return fail_errno(f, precondition::copy_source, folder, errno);
    }
    bool ok = true;
    int error = 0;
    while (const dirent* e = next_entry(dir, error)) {
      if (e->d_name[0] == '.') continue;
      char entry[512];
      if (std::snprintf(entry, sizeof entry, "%s/%s", folder, e->d_name) >= static_cast<int>(sizeof entry)) {
        ok = fail_errno(f, precondition::copy_source, folder, ENAMETOOLONG);
        break;
      }
      if (!copy_source_ok(entry, f)) {
        ok = false;
        break;
      }
    }
    closedir(dir);
    if (ok && error != 0) ok = fail_errno(f, precondition::copy_source, folder, error);
    if (!ok) return false;
  }
  return true;
}

// Every legacy input of the device's modules that exists reads as far as
// its converters read it, and does not lie where the opening commands delete
// it before it is read.
bool legacy_inputs_read(Failure& f) {
  std::uint8_t inventory[inventory::record_size] = {};
  fill_device_inventory(inventory);
  NamedLegacyInput inputs[max_legacy_inputs];
  const std::size_t n = legacy_inputs_of(inventory, inputs);
  for (std::size_t i = 0; i < n; ++i) {
    const InputReading r = read_legacy_input(inputs[i].path, *inputs[i].input);
    if (r.look == LegacyLook::unreadable)
      return fail_errno(f, precondition::legacy_input, inputs[i].path, r.error);
    if (!read_before_removed(inputs[i].path, precondition::legacy_input, f)) return false;
  }
  return true;
}

// A headed record file of the new firmware at an output path of `tree`
// (the output table's path with /usr/sav3 replaced): magic, header checksum
// and the length its header promises.
enum class Headed { yes, no, failed };
Headed headed_output(const char* tree, const OutputFile& file, unsigned port, int& error) {
  char path[512];
  const char* relative = file.path + std::strlen(path::staging);
  std::snprintf(path, sizeof path, "%s%s", tree,
                file.per_port() ? numbered_path(relative, port).text : relative);
  Look look;
  const int fd = open_regular(path, look);
  if (fd < 0) {
    error = look.error;
    return look.seen == Seen::failed && look.error != not_a_regular_file && look.error != EISDIR
               ? Headed::failed
               : Headed::no;
  }
  std::uint8_t head[header::size] = {};
  const ssize_t n = read(fd, head, sizeof head);
  error = n < 0 ? errno : 0;
  close(fd);
  if (n < 0) return Headed::failed;
  if (n != static_cast<ssize_t>(sizeof head)) return Headed::no;
  const HeaderCheck c = check_header(ConstBytes(head, sizeof head));
  const bool sound = (c.problems & (header_problem::magic | header_problem::header_checksum)) == 0 &&
                     c.expected_length() == static_cast<std::uint64_t>(look.st.st_size);
  return sound ? Headed::yes : Headed::no;
}

// Never convert a migrated device: with the controller's report gone from
// /usr/sav, a /usr/sav that holds files of the new firmware, or a /usr/sav3
// that holds a whole migrated tree, is no legacy data (a state file removed
// by hand, a run after "abandoned"). Converting it would turn every history
// into zeros. With the report there an old firmware has written legacy data
// since, and it is converted.
bool holds_legacy_data(Failure& f) {
  const Look report = look_path(controller_record::report_path, true);
  if (report.seen == Seen::failed)
    return fail_errno(f, precondition::legacy_data, controller_record::report_path, report.error);
  if (report.seen == Seen::present) return true;
  int error = 0;
  for (const OutputFile& file : output_files) {
    for (unsigned port = 1; port <= (file.per_port() ? port_count : 1u); ++port) {
      const Headed h = headed_output(path::live, file, port, error);
      if (h == Headed::failed) return fail_errno(f, precondition::legacy_data, path::live, error);
      if (h == Headed::yes) return fail(f, precondition::legacy_data, path::live, "holds migrated files");
    }
  }
  const PortPlan plan = read_port_plan();
  for (const OutputFile& file : output_files) {
    for (const PlannedModule& m : plan) {
      if (!file.per_port() && &m != plan.begin()) break;
      if (file.per_port() && (file.modules & module_bit(m.kind)) == 0) continue;
      const Headed h = headed_output(path::staging, file, m.port, error);
      if (h == Headed::failed) return fail_errno(f, precondition::legacy_data, path::staging, error);
      if (h == Headed::no) return true;
    }
    if (!file.per_port() && plan.count == 0) {
      const Headed h = headed_output(path::staging, file, 0, error);
      if (h == Headed::failed) return fail_errno(f, precondition::legacy_data, path::staging, error);
      if (h == Headed::no) return true;
    }
  }
  return fail(f, precondition::legacy_data, path::staging, "holds a migrated tree");
}

}  // namespace

// (e) The predicted staging tree fits on its file system, and the live
// trees' copies of it on theirs.
bool room_predicted(Failure& f, RoomTally& tally, const RoomDemand& extra) {
  StagingPrediction prediction;
  predict_staging_tree(prediction);
  tally = RoomTally{};
  std::uint64_t staging_blocks = 0;
  char failed[64];
  Failure unknown{};
  bool ok = staging_has_room(prediction, tally, staging_blocks, unknown, extra) &&
            enough_room(failed, sizeof failed, &prediction, staging_blocks, &tally, unknown);
  if (ok) return true;
  if (unknown.what != nullptr) {
    // The look that failed, with its path and error.
    f = unknown;
    f.what = precondition::room;
    return false;
  }
  const RoomTally::FileSystem* last = tally.count > 0 ? &tally.seen[tally.count - 1] : nullptr;
  if (last == nullptr || last->enough) return fail(f, precondition::room, path::staging, "cannot tell");
  char why[96];
  std::snprintf(why, sizeof why, "need %llu KiB, free %llu KiB",
                static_cast<unsigned long long>(last->need_kib),
                static_cast<unsigned long long>(last->free_kib));
  return fail(f, precondition::room, last->tree, why);
}

bool preconditions_hold(RunKind kind, bool probe, Failure& failure, bool& staging_sound, RoomTally* room) {
  failure = Failure{};
  staging_sound = true;
  RoomTally own{};
  if (!trees_are_folders(failure, staging_sound) || !trees_are_separate(failure, staging_sound)) return false;
  // The map of mounts below the trees, for the checks and for every removal
  // after them.
  MountMap& mounts = run_mounts();
  if (!map_mounts(mounts, failure) || !mounts_contained(mounts, failure, staging_sound)) return false;
  // A resume needs no writable staging folder: it only reads the manifest
  // (and writes the attempt count where it can).
  if (kind == RunKind::full && !writable(path::staging, probe, failure)) return false;
  if (!writable(path::live, probe, failure) || !writable(path::live2, probe, failure)) return false;
  if (kind == RunKind::resume) return true;
  return holds_legacy_data(failure) && copy_sources_ok(failure) && legacy_inputs_read(failure) &&
         room_predicted(failure, room != nullptr ? *room : own);
}

}  // namespace sav3
