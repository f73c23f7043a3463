// The checks before the first command of a run: nothing destructive happens
// until they all hold, and they change nothing themselves (but a probe file,
// created and removed at once, where asked).
#pragma once

#include <cstddef>
#include <cstdint>

#include "../look/mounts.h"
#include "room.h"
#include "sav3/legacy_file.h"
#include "sav3/look.h"

namespace sav3 {

enum class RunKind { full, resume };

// False with `failure` filled at the first check that fails. `probe`: create
// and remove a probe file in each folder that must be writable (a run); a
// check that must write nothing passes false and relies on the mount flags
// and access().
// `room`, when given, receives what the room prediction weighed.
// `staging_sound`: false when the staging folder itself failed (not a
// folder, or not apart from the other trees): no state file may be written
// there.
[[nodiscard]] bool preconditions_hold(RunKind kind, bool probe, Failure& failure, bool& staging_sound,
                                      RoomTally* room = nullptr);

// No removal crosses a mount point of the map and no mount below a tree
// shows another tree or the legacy data: mounts are allowed only where a
// live tree has a top-level folder the staging tree refills (emptied and
// refilled on its own file system), below a dot entry of /usr/sav, and in a
// top-level entry of /usr/sav2 the staging tree has no name for (left whole).
[[nodiscard]] bool mounts_contained(const MountMap& map, Failure& f, bool& staging_sound);

// The room prediction of a full run, with `extra` kept on the staging file
// system beside the staging tree (the before-image).
[[nodiscard]] bool room_predicted(Failure& f, RoomTally& tally, const RoomDemand& extra = {});

// A top-level name the staging tree will have (its four folders, the update
// log).
[[nodiscard]] bool staging_tree_names(const char* name);

}  // namespace sav3
