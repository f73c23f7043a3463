// The manifest of the staging tree, and the exact check of a tree against it.
#include "manifest.h"

#include <cerrno>

#include "../look/tree.h"
#include "sav3/crc32.h"
#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "state_file.h"

namespace sav3 {

namespace {

// The kind, size and CRC-32 of an entry (of a link: of its target text); with
// `flush` a file or folder is flushed to the medium as well.
bool describe_entry(int dirfd, const char* name, const struct stat& st, bool flush, ManifestEntry& entry) {
  entry.size = 0;
  entry.crc = 0;
  if (S_ISDIR(st.st_mode)) {
    entry.kind = 'd';
    return true;
  }
  if (S_ISLNK(st.st_mode)) {
    entry.kind = 'l';
    char target[4096];
    const ssize_t n = readlinkat(dirfd, name, target, sizeof target);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof target) return false;
    entry.size = static_cast<std::uint64_t>(n);
    entry.crc = crc32(ConstBytes(reinterpret_cast<const std::uint8_t*>(target), static_cast<std::size_t>(n)));
    return true;
  }
  if (!S_ISREG(st.st_mode)) return false;
  entry.kind = 'f';
  const int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fingerprint_file(fd, entry.size, entry.crc);
  if (ok && flush && fsync(fd) != 0) ok = false;
  close(fd);
  return ok;
}

bool counted(TreeRule rule, const char* relative_path) {
  // The top-level name: the path up to its first slash.
  char top[256];
  const char* slash = std::strchr(relative_path, '/');
  const std::size_t n = slash ? static_cast<std::size_t>(slash - relative_path) : std::strlen(relative_path);
  if (n >= sizeof top) return true;
  std::memcpy(top, relative_path, n);
  top[n] = '\0';
  if (rule == TreeRule::live2) return !has_update(top);
  return top[0] != '.';
}

// Whether the manifest lists a path (only looked up to name a failure).
bool manifest_lists(const char* relative_path) {
  ManifestReader reader;
  if (!open_manifest(reader)) return false;
  ManifestEntry entry;
  bool found = false;
  while (!found && next_manifest_entry(reader, entry) == 1)
    found = std::strcmp(entry.path, relative_path) == 0;
  close_manifest(reader);
  return found;
}

}  // namespace

bool write_staging_manifest(std::FILE* out, char* failed, std::size_t failed_size) {
  const int staging = open_device_folder(path::staging);
  if (staging < 0) {
    name_failure(failed, failed_size, path::staging, "");
    return false;
  }
  TreePath walked{};
  ManifestEntry entry;
  bool ok = walk_tree(
      staging, walked,
      [&](int dirfd, const char* name, const char* path, const struct stat& st) {
        if (is_top_level(path) && name[0] == '.') return Step::next;  // the state files
        // A path too long to spell out cannot be listed (nor copied by cp).
        if (walked.hidden != 0) {
          name_failure(failed, failed_size, path::staging, path);
          return Step::stop;
        }
        std::strcpy(entry.path, path);
        if (!describe_entry(dirfd, name, st, true, entry) || !write_manifest_entry(out, entry)) {
          name_failure(failed, failed_size, path::staging, path);
          return Step::stop;
        }
        return Step::enter;
      },
      [&](int, const char*, const char* path, const struct stat&, int folder) {
        // A folder's entries reach the medium with the folder, not with the
        // files: without this a cut after "pending" could keep a file whose
        // name is lost, and the resume would find the staging tree short.
        if (fsync(folder) == 0) return true;
        name_failure(failed, failed_size, path::staging, path);
        return false;
      });
  if (ok && fsync(staging) != 0) ok = false;
  if (!ok && failed[0] == '\0') name_failure(failed, failed_size, path::staging, "");
  close(staging);
  return ok;
}

bool tree_matches_manifest(const char* tree, TreeRule rule, bool flush, char* failed,
                           std::size_t failed_size) {
  failed[0] = '\0';
  const int root = open_device_folder(tree);
  ManifestReader manifest;
  const bool opened = open_manifest(manifest);
  if (root < 0 || !opened) {
    if (root >= 0) close(root);
    if (opened) close_manifest(manifest);
    name_failure(failed, failed_size, tree, "");
    return false;
  }
  // Every manifest entry is there, of its kind, with its bytes.
  ManifestEntry wanted;
  ManifestEntry found;
  std::uint64_t expected = 0;
  bool ok = true;
  int read = 0;
  while (ok && (read = next_manifest_entry(manifest, wanted)) == 1) {
    if (counted(rule, wanted.path)) ++expected;
    struct stat st;
    // Each folder of the path was checked (as not a link) before the entries it holds.
    ok = fstatat(root, wanted.path, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         describe_entry(root, wanted.path, st, flush, found) && found.kind == wanted.kind &&
         found.size == wanted.size && found.crc == wanted.crc;
    if (ok && flush && found.kind == 'd') {
      const int folder = openat(root, wanted.path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      ok = folder >= 0 && fsync(folder) == 0;
      if (folder >= 0) close(folder);
    }
    if (!ok) name_failure(failed, failed_size, tree, wanted.path);
  }
  close_manifest(manifest);
  if (ok && read != 0) {
    ok = false;
    name_failure(failed, failed_size, path::state, "");
  }
  // And nothing else: as many counted entries in the tree as in the manifest
  // (the entry that is not listed is looked up only to name it).
  struct stat root_st;
  const dev_t root_device = fstat(root, &root_st) == 0 ? root_st.st_dev : 0;
  if (ok) {
    TreePath walked;
    std::uint64_t present = 0;
    for (const bool naming : {false, true}) {
      walked = {};
      const bool whole =
          walk_tree(root, walked, [&](int dirfd, const char* name, const char* path, const struct stat&) {
            if (!counted(rule, path)) return Step::next;
            // A card or partition mounted under /usr/sav2 that the staging tree
            // has no name for was left whole, like an "update" entry.
            if (rule == TreeRule::live2 && is_top_level(path) &&
                holds_mount_point(dirfd, name, root_device) && !manifest_lists(path))
              return Step::next;
            ++present;
            if (naming && failed[0] == '\0' && !manifest_lists(path))
              name_failure(failed, failed_size, tree, path);
            return Step::enter;
          });
      // A tree that could not be listed whole never matches.
      if (whole && present == expected) break;
      ok = false;
    }
    if (!ok && failed[0] == '\0') name_failure(failed, failed_size, tree, "");
  }
  if (ok && flush && fsync(root) != 0) {
    ok = false;
    name_failure(failed, failed_size, tree, "");
  }
  close(root);
  return ok;
}

}  // namespace sav3
