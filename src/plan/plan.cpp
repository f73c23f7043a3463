// The plan: the rules before the first command, then what each command will
// touch, counted from the device as those commands behave (rm -rf never
// follows a link, cp copies what a name leads to, cp -rf writes into an
// existing file in place).
#include "plan.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "../look/tree.h"
#include "../state/state_file.h"
#include "sav3/device.h"
#include "sav3/migration.h"

namespace sav3 {

namespace {

// Entries below a tree that a removal takes: the top-level ones that `takes`
// accepts, and all below them. False when the tree could not be walked whole.
template <class Takes>
bool count_below(const char* tree, Takes&& takes, std::uint32_t& count) {
  const int root = open_device_folder(tree);
  if (root < 0) return means_absent(errno);
  TreePath walked{};
  const bool whole =
      walk_tree(root, walked, [&](int dirfd, const char* name, const char* path, const struct stat& st) {
        if (is_top_level(path) && !takes(dirfd, name, st)) return Step::next;
        ++count;
        return Step::enter;
      });
  close(root);
  return whole;
}

// What "cp DIR/* TO" copies: names not starting with "." that lead to a
// regular file.
bool count_copies(const char* folder, std::uint32_t& count) {
  DIR* dir = opendir(host_path(folder));
  if (dir == nullptr) return means_absent(errno);
  int error = 0;
  bool ok = true;
  while (const dirent* e = next_entry(dir, error)) {
    if (e->d_name[0] == '.') continue;
    const Look look = look_entry(dirfd(dir), e->d_name, true);
    if (look.seen == Seen::failed) ok = false;
    if (look.seen == Seen::present && S_ISREG(look.st.st_mode)) ++count;
  }
  closedir(dir);
  return ok && error == 0;
}

bool count_file(const char* path, std::uint32_t& count) {
  const Look look = look_path(path, true);
  if (look.seen == Seen::present && S_ISREG(look.st.st_mode)) ++count;
  return look.seen != Seen::failed;
}

bool count_commands(Plan& plan) {
  CommandPlan* c = plan.commands;
  bool ok = true;
  for (std::size_t i = 0; i < std::size(old_programs); ++i) {
    const Look look = look_path(old_programs[i], false);
    if (look.seen == Seen::failed) ok = false;
    if (look.seen == Seen::present && !S_ISDIR(look.st.st_mode))
      c[command::remove_old_programs + i].removes = 1;
  }
  if (plan.kind == RunKind::full) {
    ok = count_below(
             path::staging, [](int, const char* name, const struct stat&) { return name[0] != '.'; },
             c[command::empty_staging].removes) &&
         ok;
    for (std::size_t i = 0; i < std::size(copy_sources); ++i) {
      const CopySource& source = copy_sources[i];
      std::uint32_t& copies = c[command::copies + i].copies;
      ok =
          (source.folder_entries ? count_copies(source.from, copies) : count_file(source.from, copies)) && ok;
    }
  } else {
    for (std::size_t i = 0; i < command::opening_count; ++i) c[i] = {};  // a resume issues none of them
  }
  ok = count_below(
           path::live, [](int, const char* name, const struct stat&) { return name[0] != '.'; },
           c[command::wipe_live].removes) &&
       ok;
  const int live2 = open_device_folder(path::live2);
  struct stat root {};
  const bool have_live2 = live2 >= 0 && fstat(live2, &root) == 0;
  if (live2 >= 0) close(live2);
  ok = count_below(
           path::live2,
           [&](int dirfd, const char* name, const struct stat& st) {
             // Kept: "update" entries, and mounts the staging tree has no name for.
             const bool kept = has_update(name) || (have_live2 && !staging_tree_names(name) &&
                                                    holds_mount_point(dirfd, name, root.st_dev));
             if (kept) {
               ++plan.kept_in_live2;
               if (std::strcmp(name, last_name(path::update_log)) == 0 && S_ISREG(st.st_mode) &&
                   st.st_nlink == 1)
                 c[command::copy_live2].writes_over = 1;
             }
             return !kept;
           },
           c[command::empty_live2].removes) &&
       ok;
  // What the closing copies copy: one staging tree each.
  RoomDemand demand{};
  StagingPrediction prediction;
  if (plan.kind == RunKind::full) predict_staging_tree(prediction);
  // A count that cannot be made says so in the plan (the rules have named
  // every failed look before it).
  Failure unknown{};
  if (plan.kind == RunKind::full ? add_predicted_need(prediction, 4096, demand, unknown)
                                 : add_staging_need(4096, demand, unknown)) {
    c[command::copy_live].copies = static_cast<std::uint32_t>(demand.inodes);
    c[command::copy_live2].copies = static_cast<std::uint32_t>(demand.inodes);
  } else {
    ok = false;
  }
  return ok;
}

// The before-image: what it takes, and whether it fits on the staging file
// system beside the predicted staging tree and the live trees' copies (its
// linked files no longer freed by the removals).
void plan_before_image(Plan& plan) {
  plan.image_due = true;
  ImageTally there{};
  Failure ignored{};
  // A run after kept ones keeps their image, which alone still holds what
  // their opening commands deleted; so does one whose state file was
  // removed by hand (with legacy data there, only kept runs can have left
  // a complete image).
  const State state = read_state().state;
  plan.image_keep =
      (state == State::kept || state == State::none) && read_before_image(there, ignored) == Seen::present;
  const std::uint64_t block_size = staging_block_size();
  if (block_size == 0) {
    static_cast<void>(fail_errno(plan.image_none, "before-image", path::staging, errno));
    return;
  }
  if (!weigh_before_image(block_size, plan.image_keep, plan.image, plan.image_none)) return;
  RoomTally tally{};
  const RoomDemand extra{plan.image.blocks, plan.image.inodes, 0, 0};
  Failure room{};
  if (!room_predicted(room, tally, extra)) {
    char why[sizeof room.path + sizeof room.error + 32];
    std::snprintf(why, sizeof why, "not enough room beside the migration: %s", room.error);
    static_cast<void>(fail(plan.image_none, "before-image", room.path, why));
    return;
  }
  plan.image_fits = true;
}

}  // namespace

bool make_plan(RunKind kind, bool probe, Plan& plan) {
  plan = Plan{};
  plan.kind = kind;
  plan.holds = preconditions_hold(kind, probe, plan.failure, plan.staging_sound, &plan.room);
  if (!plan.holds) return false;
  // A count that cannot be made is a look that failed: the rules above have
  // already walked the same trees, so this is a device that changed under us.
  plan.counted = count_commands(plan);
  if (kind == RunKind::full) plan_before_image(plan);
  return true;
}

}  // namespace sav3
