// Will the copies fit? An estimate per file system, before anything is
// deleted; the check after the copies and the resume are the guarantee.
#include "room.h"

#include <dirent.h>
#include <sys/statvfs.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "../look/mounts.h"
#include "../look/tree.h"
#include "../state/manifest.h"
#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/look.h"
#include "sav3/migration_state.h"
#include "sav3/output_files.h"
#include "sav3/system_log.h"

namespace sav3 {

std::uint64_t blocks_for(std::uint64_t size, std::uint64_t block_size) {
  if (block_size == 0) return size;
  return size / block_size + (size % block_size != 0 ? 1 : 0);
}

RoomVerdict weigh_room(const RoomDemand& demand, const RoomFigures& figures) {
  const std::uint64_t block = figures.block_size != 0 ? figures.block_size : 1;
  // The margin: max(64 KiB, 1% of the file system).
  const std::uint64_t one_percent = figures.blocks / 100 + (figures.blocks % 100 != 0 ? 1 : 0);
  const std::uint64_t margin = std::max(blocks_for(64 * 1024, block), one_percent);
  const std::uint64_t net = demand.blocks > demand.freed_blocks ? demand.blocks - demand.freed_blocks : 0;
  const std::uint64_t need = net + margin;
  std::uint64_t net_inodes = demand.inodes > demand.freed_inodes ? demand.inodes - demand.freed_inodes : 0;
  // The same margin in inodes: 1% of them, at least 16.
  const std::uint64_t inode_margin = std::max<std::uint64_t>(16, figures.inodes / 100);
  if (figures.inodes != 0) net_inodes += inode_margin;
  RoomVerdict verdict{};
  verdict.enough_blocks = need <= figures.free_blocks;
  verdict.enough_inodes = figures.inodes == 0 || net_inodes <= figures.free_inodes;
  verdict.need_kib = blocks_for(need * block, 1024);
  verdict.free_kib = figures.free_blocks * block / 1024;
  verdict.need_inodes = net_inodes;
  return verdict;
}

// What one copy of the staging tree needs on a file system of this block size.
// False when the staging tree could not be walked whole: a room check that
// cannot tell the need must not say "enough".
bool add_staging_need(std::uint64_t block_size, RoomDemand& demand, Failure& unknown) {
  const int staging = open_device_folder(path::staging);
  if (staging < 0) return fail_errno(unknown, failure_what::room, path::staging, errno);
  TreePath walked{};
  const bool whole =
      walk_tree(staging, walked, [&](int, const char* name, const char* path, const struct stat& st) {
        if (is_top_level(path) && name[0] == '.') return Step::next;
        demand.inodes += 1;
        if (S_ISDIR(st.st_mode)) demand.blocks += 1;
        if (S_ISREG(st.st_mode))
          demand.blocks += blocks_for(static_cast<std::uint64_t>(st.st_size), block_size);
        return Step::enter;
      });
  close(staging);
  if (whole) return true;
  char where[sizeof walked.failed + sizeof path::staging];
  name_failure(where, sizeof where, path::staging, walked.failed);
  return walked.error != 0 ? fail_errno(unknown, failure_what::room, where, walked.error)
                           : fail(unknown, failure_what::room, where, "cannot tell");
}

namespace {

// Files with several links: freed only when the wipes remove every link. A
// fixed table; a file beyond it counts as not freed (the safe side).
struct LinkedFiles {
  struct Entry {
    dev_t device;
    ino_t inode;
    nlink_t seen;
    nlink_t links;
    std::uint64_t blocks;
  };
  Entry entries[256];
  std::size_t count;
};

void note_link(LinkedFiles& linked, const struct stat& st, std::uint64_t blocks) {
  for (std::size_t i = 0; i < linked.count; ++i) {
    LinkedFiles::Entry& e = linked.entries[i];
    if (e.device == st.st_dev && e.inode == st.st_ino) {
      ++e.seen;
      return;
    }
  }
  if (linked.count < std::size(linked.entries))
    linked.entries[linked.count++] = {st.st_dev, st.st_ino, 1, st.st_nlink, blocks};
}

void add_linked_freed(const LinkedFiles& linked, RoomDemand& demand) {
  for (std::size_t i = 0; i < linked.count; ++i) {
    if (linked.entries[i].seen < linked.entries[i].links) continue;
    demand.freed_inodes += 1;
    demand.freed_blocks += linked.entries[i].blocks;
  }
}

// What the wipe of a live tree frees: the blocks of its files (those with
// several links in `linked`, counted once all their links are seen), and an
// inode per entry, on the tree's own file system. A walk that fails part-way
// counts less as freed: the safe side.
void add_freed(const WipedTree& tree, std::uint64_t block_size, RoomDemand& demand, LinkedFiles& linked) {
  const int root = open_device_folder(tree.path);
  if (root < 0) return;
  TreePath walked{};
  // May be dropped: what the walk could not reach is simply not counted.
  static_cast<void>(
      walk_tree(root, walked, [&](int, const char* name, const char* path, const struct stat& st) {
        if (is_top_level(path) && (tree.rule == TreeRule::live2 ? has_update(name) : name[0] == '.'))
          return Step::next;
        // Nor what lies on another file system, or deeper than a path the
        // shell's rm reaches (the safe side).
        if (crosses_mount(st, tree.device) || walked.hidden != 0) return Step::next;
        if (S_ISDIR(st.st_mode)) {
          demand.freed_inodes += 1;
          return Step::enter;
        }
        const std::uint64_t blocks =
            S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_blocks) * 512 / block_size : 0;
        if (st.st_nlink == 1) {
          demand.freed_inodes += 1;
          demand.freed_blocks += blocks;
        } else {
          note_link(linked, st, blocks);
        }
        return Step::next;
      }));
  close(root);
}

}  // namespace

void add_wipes_freed(const WipedTree* trees, std::size_t count, std::uint64_t block_size,
                     RoomDemand& demand) {
  LinkedFiles linked{};
  for (std::size_t i = 0; i < count; ++i) add_freed(trees[i], block_size, demand, linked);
  add_linked_freed(linked, demand);
}

namespace {

// The staging tree a full run will build, for a file system of this block
// size: the output files of the device's modules (the output table), the four
// folders, and the files the opening commands copy (an output that replaces
// a copy counted once).
bool output_named(const StagingPrediction& p, const char* folder, const char* name) {
  char path[512];
  if (std::snprintf(path, sizeof path, "%s/%s", folder, name) >= static_cast<int>(sizeof path)) return false;
  const PortPlan plan = plan_ports(p.inventory, shared_supply_numbering);
  for (const OutputFile& f : output_files) {
    if (!f.per_port()) {
      if (std::strcmp(f.path, path) == 0) return true;
      continue;
    }
    for (const PlannedModule& m : plan)
      if ((f.modules & module_bit(m.kind)) != 0 && std::strcmp(numbered_path(f.path, m.port), path) == 0)
        return true;
  }
  return false;
}

// False when the source could not be looked at (a missing one, or one that
// is not a regular file, cp skips).
bool add_copy(const char* source, std::uint64_t block_size, RoomDemand& demand, Failure& unknown) {
  const Look look = look_path(source, true);
  if (look.seen == Seen::failed) return fail_errno(unknown, failure_what::room, source, look.error);
  if (look.seen == Seen::absent || !S_ISREG(look.st.st_mode)) return true;
  demand.inodes += 1;
  demand.blocks += blocks_for(static_cast<std::uint64_t>(look.st.st_size), block_size);
  return true;
}

bool add_copied_folder(const StagingPrediction& p, const char* from, const char* to, std::uint64_t block_size,
                       RoomDemand& demand, Failure& unknown) {
  DIR* dir = opendir(host_path(from));
  if (dir == nullptr) {
    // Nothing to copy, or a folder that cannot be read.
    return means_absent(errno) || fail_errno(unknown, failure_what::room, from, errno);
  }
  bool ok = true;
  int error = 0;
  while (const dirent* e = next_entry(dir, error)) {
    if (e->d_name[0] == '.' || output_named(p, to, e->d_name)) continue;
    char source[512];
    if (std::snprintf(source, sizeof source, "%s/%s", from, e->d_name) >= static_cast<int>(sizeof source)) {
      ok = ok && fail_errno(unknown, failure_what::room, from, ENAMETOOLONG);
    } else if (ok) {
      ok = add_copy(source, block_size, demand, unknown);
    }
  }
  closedir(dir);
  return ok && (error == 0 || fail_errno(unknown, failure_what::room, from, error));
}

}  // namespace

bool add_predicted_need(const StagingPrediction& p, std::uint64_t block_size, RoomDemand& demand,
                        Failure& unknown) {
  const PortPlan plan = plan_ports(p.inventory, shared_supply_numbering);
  for (const OutputFile& f : output_files) {
    const std::uint64_t bytes = header::size + std::uint64_t{f.size} * f.count;
    std::uint64_t files = f.per_port() ? 0 : 1;
    for (const PlannedModule& m : plan) files += (f.modules & module_bit(m.kind)) != 0 ? 1 : 0;
    demand.inodes += files;
    demand.blocks += files * blocks_for(bytes, block_size);
  }
  demand.inodes += 4;  // data, cfg, etc, history
  demand.blocks += 4;
  for (const CopySource& source : copy_sources) {
    if (!(source.folder_entries ? add_copied_folder(p, source.from, source.into, block_size, demand, unknown)
                                : add_copy(source.from, block_size, demand, unknown)))
      return false;
  }
  return true;
}

namespace {

RoomFigures figures_of(const struct statvfs& fs) {
  return {fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize, fs.f_blocks, fs.f_bavail, fs.f_files, fs.f_favail};
}

void tell(RoomTally* tally, const char* tree, const RoomVerdict& v, const RoomFigures& figures) {
  if (tally == nullptr || tally->count == std::size(tally->seen)) return;
  RoomTally::FileSystem& fs = tally->seen[tally->count++];
  std::snprintf(fs.tree, sizeof fs.tree, "%s", tree);
  fs.need_kib = v.need_kib;
  fs.free_kib = v.free_kib;
  fs.need_inodes = figures.inodes != 0 ? v.need_inodes : 0;
  fs.free_inodes = figures.inodes != 0 ? figures.free_inodes : 0;
  fs.enough = v.enough_blocks && v.enough_inodes;
}

}  // namespace

void predict_staging_tree(StagingPrediction& prediction) {
  prediction = StagingPrediction{};
  fill_device_inventory(prediction.inventory);
}

std::uint64_t staging_block_size() {
  struct statvfs fs;
  return statvfs(host_path(path::staging), &fs) == 0 ? figures_of(fs).block_size : 0;
}

bool staging_has_room(const StagingPrediction& prediction, RoomTally& tally, std::uint64_t& staging_blocks,
                      Failure& unknown, const RoomDemand& extra) {
  staging_blocks = 0;
  struct stat st;
  struct statvfs fs;
  if (stat(host_path(path::staging), &st) != 0 || statvfs(host_path(path::staging), &fs) != 0)
    return fail_errno(unknown, failure_what::room, path::staging, errno);
  const RoomFigures figures = figures_of(fs);
  RoomDemand demand{};
  if (!add_predicted_need(prediction, figures.block_size, demand, unknown)) return false;
  // The run's own: the state file and its temporary file.
  demand.inodes += 2 + extra.inodes;
  demand.blocks += 2 + extra.blocks;
  // What "rm -rf /usr/sav3/*" frees first (its dot entries stay).
  const WipedTree staging{path::staging, TreeRule::staging, st.st_dev};
  add_wipes_freed(&staging, 1, figures.block_size, demand);
  staging_blocks = demand.blocks > demand.freed_blocks ? demand.blocks - demand.freed_blocks : 0;
  const RoomVerdict verdict = weigh_room(demand, figures);
  tell(&tally, path::staging, verdict, figures);
  return verdict.enough_blocks && verdict.enough_inodes;
}

bool enough_room(char* failed, std::size_t failed_size) {
  Failure unknown{};
  if (enough_room(failed, failed_size, nullptr, 0, nullptr, unknown)) return true;
  // The state's reason names the look that failed, as the log line does.
  if (unknown.what != nullptr) {
    const Escaped tree = escaped(failed);
    std::snprintf(failed, failed_size, "%s: cannot tell: %s: %s", tree.text, unknown.path, unknown.error);
  }
  return false;
}

bool enough_room(char* failed, std::size_t failed_size, const StagingPrediction* prediction,
                 std::uint64_t staging_blocks, RoomTally* tally, Failure& unknown) {
  unknown = Failure{};
  // A look that failed: the room cannot be told, and "cannot tell" is not
  // "enough".
  auto cannot_tell = [&](const char* tree) {
    if (tally == nullptr) {
      note(LOG_ERR, log_line::room_unknown, escaped(tree).text, unknown.path, unknown.error);
      remember_failure(failure_what::room, unknown.path, unknown.error);
    }
    std::snprintf(failed, failed_size, "%s", tree);
    return false;
  };
  WipedTree trees[] = {{path::live, TreeRule::live, 0}, {path::live2, TreeRule::live2, 0}};
  for (WipedTree& tree : trees) {
    struct stat st;
    if (stat(host_path(tree.path), &st) != 0) {
      int error = errno;
      if (prediction != nullptr && error == ENOENT) {
        // A missing live tree is made in its parent's file system.
        HostPath parent = host_path(tree.path);
        *std::strrchr(parent.text, '/') = '\0';
        if (stat(parent, &st) == 0) {
          tree.device = st.st_dev;
          continue;
        }
        error = errno;
      }
      return fail_errno(unknown, failure_what::room, tree.path, error) || cannot_tell(tree.path);
    }
    tree.device = st.st_dev;
  }
  // Where the predicted staging tree takes its room first.
  struct stat staging {};
  if (prediction != nullptr && stat(host_path(path::staging), &staging) != 0)
    return fail_errno(unknown, failure_what::room, path::staging, errno) || cannot_tell(path::staging);
  const dev_t staging_device = prediction != nullptr ? staging.st_dev : 0;
  const bool shared = trees[0].device == trees[1].device;
  for (std::size_t first = 0; first < std::size(trees); ++first) {
    if (shared && first == 1) break;
    struct statvfs fs;
    HostPath where = host_path(trees[first].path);
    if (statvfs(where, &fs) != 0) {
      *std::strrchr(where.text, '/') = '\0';
      if (prediction == nullptr || statvfs(where, &fs) != 0) {
        return fail_errno(unknown, failure_what::room, trees[first].path, errno) ||
               cannot_tell(trees[first].path);
      }
    }
    RoomFigures figures = figures_of(fs);
    // On the staging tree's own file system only what the staging tree
    // leaves is there for the copies.
    if (prediction != nullptr && trees[first].device == staging_device)
      figures.free_blocks = figures.free_blocks > staging_blocks ? figures.free_blocks - staging_blocks : 0;
    RoomDemand demand{};
    const bool told = prediction != nullptr
                          ? add_predicted_need(*prediction, figures.block_size, demand, unknown)
                          : add_staging_need(figures.block_size, demand, unknown);
    if (!told) return cannot_tell(trees[first].path);
    if (shared) {
      // Both live trees take a copy here, and both wipes free room here.
      demand.blocks *= 2;
      demand.inodes *= 2;
    }
    add_wipes_freed(&trees[first], shared ? 2 : 1, figures.block_size, demand);
    const RoomVerdict verdict = weigh_room(demand, figures);
    const auto shown = escaped(trees[first].path);
    if (tally == nullptr && !verdict.enough_blocks)
      note(LOG_ERR, log_line::no_room, shown.text, static_cast<unsigned long long>(verdict.need_kib),
           static_cast<unsigned long long>(verdict.free_kib));
    if (tally == nullptr && !verdict.enough_inodes)
      note(LOG_ERR, log_line::no_inodes, shown.text, static_cast<unsigned long long>(verdict.need_inodes),
           static_cast<unsigned long long>(figures.free_inodes));
    tell(tally, trees[first].path, verdict, figures);
    if (tally == nullptr && (!verdict.enough_blocks || !verdict.enough_inodes))
      remember_failure(failure_what::room, shown.text,
                       verdict.enough_blocks ? "not enough inodes" : "not enough room");
    if (!verdict.enough_blocks || !verdict.enough_inodes) {
      std::snprintf(failed, failed_size, "%s", trees[first].path);
      return false;
    }
  }
  return true;
}

}  // namespace sav3
