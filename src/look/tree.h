// Walking, removing and fingerprinting the device's trees, descriptor-relative,
// never following a link below the folder a walk starts in.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sav3 {

// The longest relative path a walk spells out: what the shell's tools take.
inline constexpr std::size_t tree_path_max = 4095;

// A path relative to the folder a walk started in ("cfg/port0"). Deeper than
// tree_path_max bytes it keeps its head (the top-level name included) and
// ends in "/...", visibly shortened, and `hidden` counts the levels it no
// longer shows: such a path serves the log, never a decision (the walk then
// returns false).
struct TreePath {
  char text[tree_path_max + 5];
  std::size_t length;
  std::size_t hidden;
  // Where the walk first could not look (the relative path, shortened like
  // `text`; "" for the folder it started in) and the error; 0 when no look
  // failed. A walk that could not finish carries it to its log line.
  char failed[tree_path_max + 5];
  int error;
};

// The device path of an entry below a tree: TREE/RELATIVE, or TREE for "".
void name_failure(char* failed, std::size_t failed_size, const char* tree, const char* relative);

// What a walk does with a folder it has just visited.
enum class Step { enter, next, stop };

bool has_update(const char* name);  // the name holds the bytes "update"
bool is_top_level(const char* relative_path);

// A walk keeps the streams of its deepest levels open, no more: a folder
// above them is opened again through ".." of the folder below it, and only if
// it is still the folder it was (st_dev, st_ino). The stack holds a frame
// per level (about 100 bytes on the device, 180 on a 64-bit host): below
// max_tree_depth a walk does not go (and says so), a few MiB at most.
inline constexpr std::size_t open_tree_levels = 16;
inline constexpr std::size_t max_tree_depth = 16384;

// The callbacks of a walk, behind plain function pointers so that the walk
// is compiled once and its frames stay small at any depth.
struct TreeVisitor {
  void* context;
  Step (*visit)(void* context, int dirfd, const char* name, const char* path, const struct stat& st);
  bool (*leave)(void* context, int dirfd, const char* name, const char* path, const struct stat& st,
                int folder);
};
[[nodiscard]] bool walk_tree(int dirfd, TreePath& path, const TreeVisitor& visitor);

// Every entry below the folder open at dirfd, depth first, links never
// followed: visit(dirfd, name, path, st) first; for a folder that it enters,
// its entries, then leave(dirfd, name, path, st, folder_fd), `st` the
// folder's status as it is left. Returns false when a folder could not be
// read or opened again, a path was shortened or too deep, visit said stop
// (which ends the walk) or leave failed; the walk goes on after all but stop.
template <class Visit, class Leave>
[[nodiscard]] bool walk_tree(int dirfd, TreePath& path, Visit&& visit, Leave&& leave) {
  struct Both {
    Visit& visit;
    Leave& leave;
  } both{visit, leave};
  const TreeVisitor visitor{&both,
                            [](void* c, int fd, const char* name, const char* p, const struct stat& st) {
                              return static_cast<Both*>(c)->visit(fd, name, p, st);
                            },
                            [](void* c, int fd, const char* name, const char* p, const struct stat& st,
                               int folder) { return static_cast<Both*>(c)->leave(fd, name, p, st, folder); }};
  return walk_tree(dirfd, path, visitor);
}

// The same without anything to do on leaving a folder.
template <class Visit>
[[nodiscard]] bool walk_tree(int dirfd, TreePath& path, Visit&& visit) {
  return walk_tree(dirfd, path, visit,
                   [](int, const char*, const char*, const struct stat&, int) { return true; });
}

// Opens one of the trees (/usr/sav3, /usr/sav, /usr/sav2), links followed.
int open_device_folder(const char* device_path);
// Makes the missing folder `device_path` (mode 0755) and flushes its name in
// its parent; false with errno.
[[nodiscard]] bool make_device_folder(const char* device_path);

// Removes the entry `name` of the folder open at dirfd, recursively, never
// following a link and never entering a folder on another file system than
// `device` (left and logged); goes on after what it cannot remove (logged).
// `shown` is the device path for the log. Returns true when it is gone.
[[nodiscard]] bool remove_entry(int dirfd, const char* name, const char* shown, dev_t device);
// The same for what the folder `name` holds, keeping the folder (a mount
// point on `device` that the copy refills). True when it is empty.
[[nodiscard]] bool empty_folder(int dirfd, const char* name, const char* shown, dev_t device);

// The entry `name` of the folder open at dirfd is a folder on another file
// system than `device`, or holds one.
bool holds_mount_point(int dirfd, const char* name, dev_t device);

// Copies what `from` holds from its start to `to` (none when negative), in
// chunks; the size and CRC-32 of what it read.
[[nodiscard]] bool copy_bytes(int from, int to, std::uint64_t& size, std::uint32_t& crc);
// Size and CRC-32 of the file open at fd, read in chunks from the start.
[[nodiscard]] bool fingerprint_file(int fd, std::uint64_t& size, std::uint32_t& crc);

}  // namespace sav3
