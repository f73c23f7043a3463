// Will the copies fit? An estimate per file system, before anything is
// deleted; the check after the copies and the resume are the guarantee.
#include "room.h"

#include <sys/statvfs.h>
#include <syslog.h>

#include <algorithm>
#include <iterator>

#include "manifest.h"
#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "tree.h"

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
  const std::uint64_t net_inodes =
      demand.inodes > demand.freed_inodes ? demand.inodes - demand.freed_inodes : 0;
  RoomVerdict verdict{};
  verdict.enough_blocks = need <= figures.free_blocks;
  verdict.enough_inodes = figures.inodes == 0 || net_inodes <= figures.free_inodes;
  verdict.need_kib = blocks_for(need * block, 1024);
  verdict.free_kib = figures.free_blocks * block / 1024;
  verdict.need_inodes = net_inodes;
  return verdict;
}

namespace {

struct LiveTree {
  const char* path;
  TreeRule rule;
  dev_t device;
};

// What one copy of the staging tree needs on a file system of this block size.
// False when the staging tree could not be walked whole: a room check that
// cannot tell the need must not say "enough".
bool add_staging_need(std::uint64_t block_size, RoomDemand& demand) {
  const int staging = open_device_folder(path::staging);
  if (staging < 0) return false;
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
  return whole;
}

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
void add_freed(const LiveTree& tree, std::uint64_t block_size, RoomDemand& demand, LinkedFiles& linked) {
  const int root = open_device_folder(tree.path);
  if (root < 0) return;
  TreePath walked{};
  // May be dropped: what the walk could not reach is simply not counted.
  static_cast<void>(
      walk_tree(root, walked, [&](int, const char* name, const char* path, const struct stat& st) {
        if (is_top_level(path) && (tree.rule == TreeRule::live2 ? has_update(name) : name[0] == '.'))
          return Step::next;
        if (st.st_dev != tree.device) return Step::next;
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

bool enough_room(char* failed, std::size_t failed_size) {
  LiveTree trees[] = {{path::live, TreeRule::live, 0}, {path::live2, TreeRule::live2, 0}};
  for (LiveTree& tree : trees) {
    struct stat st;
    if (stat(host_path(tree.path), &st) != 0) {
      std::snprintf(failed, failed_size, "%s", tree.path);
      return false;
    }
    tree.device = st.st_dev;
  }
  const bool shared = trees[0].device == trees[1].device;
  for (std::size_t first = 0; first < std::size(trees); ++first) {
    if (shared && first == 1) break;
    struct statvfs fs;
    if (statvfs(host_path(trees[first].path), &fs) != 0) {
      std::snprintf(failed, failed_size, "%s", trees[first].path);
      return false;
    }
    const RoomFigures figures{fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize, fs.f_blocks, fs.f_bavail,
                              fs.f_files, fs.f_favail};
    RoomDemand demand{};
    LinkedFiles linked{};
    if (!add_staging_need(figures.block_size, demand)) {
      note(LOG_ERR, log_line::room_unknown, escaped(trees[first].path).text);
      std::snprintf(failed, failed_size, "%s", trees[first].path);
      return false;
    }
    add_freed(trees[first], figures.block_size, demand, linked);
    if (shared) {
      // Both live trees take a copy here, and both wipes free room here.
      demand.blocks *= 2;
      demand.inodes *= 2;
      add_freed(trees[1], figures.block_size, demand, linked);
    }
    add_linked_freed(linked, demand);
    const RoomVerdict verdict = weigh_room(demand, figures);
    const auto shown = escaped(trees[first].path);
    if (!verdict.enough_blocks)
      note(LOG_ERR, log_line::no_room, shown.text, static_cast<unsigned long long>(verdict.need_kib),
           static_cast<unsigned long long>(verdict.free_kib));
    if (!verdict.enough_inodes)
      note(LOG_ERR, log_line::no_inodes, shown.text, static_cast<unsigned long long>(verdict.need_inodes),
           static_cast<unsigned long long>(figures.free_inodes));
    if (!verdict.enough_blocks || !verdict.enough_inodes) {
      std::snprintf(failed, failed_size, "%s", trees[first].path);
      return false;
    }
  }
  return true;
}

}  // namespace sav3
