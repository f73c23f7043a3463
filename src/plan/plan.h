// The plan of a run: what each of the 30 commands will remove, copy and
// write over on this device, worked out from the map before the first
// command, and whether the rules that keep those commands inside the three
// trees hold. The run acts on it; --check prints it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../undo/before_image.h"
#include "preconditions.h"
#include "room.h"
#include "sav3/look.h"
#include "sav3/replacement.h"

namespace sav3 {

struct Plan {
  RunKind kind;
  bool holds;                              // every rule held: the run may issue its commands
  bool staging_sound;                      // false: the staging folder takes no state file
  Failure failure;                         // when it does not hold: the first rule that failed
  bool counted;                            // the counts below were worked out (the rules held)
  CommandPlan commands[planned_commands];  // in the order the run issues them
  std::uint32_t kept_in_live2;             // top-level entries of /usr/sav2 left as they are
  RoomTally room;                          // the file systems the room check weighed
  // A full run keeps a before-image of what its commands remove or write
  // over, where it fits beside the staging tree.
  bool image_due;    // a full run whose rules hold
  bool image_keep;   // the image there is kept, and only what it lacks added
  bool image_fits;   // it will be kept; else `image_none` says why not
  ImageTally image;  // what it takes (with image_keep: what is added)
  Failure image_none;
};

// The rules, then the counts. `probe`: a run (a probe file is made and
// removed where a tree must be writable); the check passes false.
[[nodiscard]] bool make_plan(RunKind kind, bool probe, Plan& plan);

}  // namespace sav3
