// Will the copies fit? An estimate per file system, before anything is deleted.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "../state/manifest.h"
#include "sav3/inventory.h"
#include "sav3/look.h"
#include "sav3/replacement.h"

namespace sav3 {

// The room check's arithmetic for one file system, in its blocks
// (statvfs f_frsize): what the copies need and the wipes free there, against
// what it has.
struct RoomFigures {
  std::uint64_t block_size;   // f_frsize (f_bsize when 0)
  std::uint64_t blocks;       // f_blocks
  std::uint64_t free_blocks;  // f_bavail
  std::uint64_t inodes;       // f_files; 0 when the file system does not count them
  std::uint64_t free_inodes;  // f_favail
};
struct RoomDemand {
  std::uint64_t blocks;  // the copies: each file rounded up to blocks, a block per folder
  std::uint64_t inodes;  // the copies: one per entry
  std::uint64_t freed_blocks;
  std::uint64_t freed_inodes;
};
struct RoomVerdict {
  bool enough_blocks;
  bool enough_inodes;
  std::uint64_t need_kib;  // blocks needed beyond those freed, plus the margin
  std::uint64_t free_kib;
  std::uint64_t need_inodes;
};
// The margin is max(64 KiB, 1% of the file system), rounded up to blocks.
RoomVerdict weigh_room(const RoomDemand& demand, const RoomFigures& figures);
std::uint64_t blocks_for(std::uint64_t size, std::uint64_t block_size);

// What emptying trees that share one file system frees there, in blocks of
// `block_size`, added to `demand`: the entries each wipe removes (not its
// kept ones, nothing on another file system than `device`, nothing deeper
// than a path the shell spells out), a file with several links once, when
// all of its links are among them.
struct WipedTree {
  const char* path;  // path::live, path::live2 or path::staging
  TreeRule rule;
  dev_t device;
};
void add_wipes_freed(const WipedTree* trees, std::size_t count, std::uint64_t block_size, RoomDemand& demand);

// The room check over the file systems of both live trees, for the staging
// tree as it is (after the gate); logs a shortfall and names the live tree in
// `failed` ("TREE: cannot tell: PATH: ERROR" when a look it needed failed).
[[nodiscard]] bool enough_room(char* failed, std::size_t failed_size);

// Before the first command: the staging tree predicted from the legacy
// inventory (its module files, from the output table) and the files the
// opening commands copy.
struct StagingPrediction {
  std::uint8_t inventory[inventory::record_size];
};
void predict_staging_tree(StagingPrediction& prediction);

// What one copy of the staging tree needs on a file system of this block
// size: the tree on disk, or the one predicted from the legacy inventory.
// False when that cannot be told: `unknown` then names the look or walk that
// failed and its error.
[[nodiscard]] bool add_staging_need(std::uint64_t block_size, RoomDemand& demand, Failure& unknown);
[[nodiscard]] bool add_predicted_need(const StagingPrediction& p, std::uint64_t block_size,
                                      RoomDemand& demand, Failure& unknown);
// The staging file system holds the predicted tree, less what emptying
// /usr/sav3 frees, with the margin; `staging_blocks` is what it takes there.
// False with `unknown` filled when it cannot be told. `extra`: what else the
// run keeps there (its before-image), in blocks of the staging file system.
[[nodiscard]] bool staging_has_room(const StagingPrediction& prediction, RoomTally& tally,
                                    std::uint64_t& staging_blocks, Failure& unknown,
                                    const RoomDemand& extra = {});
// The block size of the staging file system (0 when it cannot be looked at).
std::uint64_t staging_block_size();
// The live trees' room check for the predicted staging tree (on a file
// system shared with /usr/sav3, less its `staging_blocks`); logs nothing when
// `tally` is given. Without `prediction`: the staging tree as it is. False
// with `unknown` filled when a look it needed failed (the room cannot be
// told), with `unknown.what` nullptr when there is not enough.
[[nodiscard]] bool enough_room(char* failed, std::size_t failed_size, const StagingPrediction* prediction,
                               std::uint64_t staging_blocks, RoomTally* tally, Failure& unknown);

}  // namespace sav3
