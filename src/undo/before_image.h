// The before-image: everything the migration's commands remove or write
// over, kept in /usr/sav3/.before until the new firmware commits to its data,
// so that sav3-migrate --rollback can put the device back as it was.
//
// Its leading dot keeps it out of "rm -rf /usr/sav3/*" and of the copies
// "cp -rf /usr/sav3/* ...". It holds, below a folder per place:
//
//   sav/   sav2/   sav3/          the entries of /usr/sav, /usr/sav2, /usr/sav3
//   mnt2/                         the old programs under /mnt/2
//
// a file on the staging file system that no command writes into in place as
// a second link (the commands remove only its name: no data is copied), any
// other file as a copy, a symbolic link as a link with the same target, and
// its manifest, written last: the image is complete only when the manifest
// is there. One line per entry, each folder before what it holds:
//
//   KIND HOW MODE UID GID SIZE CRC RDEV PATH
//
// KIND d folder, f file, l link, p FIFO, s socket, c and b device nodes, k an
// entry that the commands keep (only its name is recorded: the undo leaves
// it); HOW L linked, C copied, - neither; MODE the permission bits in octal;
// SIZE and CRC (8 hex digits, CRC-32) of a file's bytes or a link's target
// (a linked file's CRC is 0: its bytes are never read, the undo puts back
// the very file);
// RDEV a device node's number; PATH the place's folder and the entry's path
// ("sav/data/x"), escaped as in log lines.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

#include "sav3/look.h"

namespace sav3 {

namespace path {
inline constexpr char before_image[] = "/usr/sav3/.before";
}  // namespace path

// What a before-image holds (or would hold).
struct ImageTally {
  std::uint64_t entries;       // what an undo puts back (kept entries not counted)
  std::uint64_t linked;        // files kept as a second link
  std::uint64_t copied;        // files copied
  std::uint64_t linked_bytes;  // their sizes
  std::uint64_t copied_bytes;
  // On the staging file system, in blocks of the size weighed with: the
  // copies and folders, and the linked files, whose blocks the removals no
  // longer free; the inodes likewise.
  std::uint64_t blocks;
  std::uint64_t inodes;
};

// What a full run's before-image would take now. `keep`: the image there is
// kept and only what it lacks is added (a full run after "kept"). False, with
// `f`, when a look failed.
[[nodiscard]] bool weigh_before_image(std::uint64_t block_size, bool keep, ImageTally& tally, Failure& f);

// Makes the before-image, flushed to the medium. False, with `f`: there is
// none (whatever was made is removed), and the run migrates without it.
[[nodiscard]] bool make_before_image(bool keep, ImageTally& tally, Failure& f);

// A complete before-image is there (its manifest): what it would put back.
// absent: none; failed: one that cannot be read (`f`).
[[nodiscard]] Seen read_before_image(ImageTally& tally, Failure& f);

// Removes the before-image, complete or not, and flushes /usr/sav3.
[[nodiscard]] bool remove_before_image(Failure& f);

// sav3-migrate --rollback and --commit (out: one line of what was done;
// err: one line why not). Exit statuses 0 done, 1 refused or failed.
int roll_back(std::FILE* out, std::FILE* err);
int commit(std::FILE* out, std::FILE* err);
// A boot that finds "rolling back" finishes the undo.
void finish_rollback();

}  // namespace sav3
