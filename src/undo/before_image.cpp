// Making, reading and removing the before-image (see before_image.h).
#include "before_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "../look/mounts.h"
#include "../look/tree.h"
#include "../plan/preconditions.h"
#include "../plan/room.h"
#include "image_manifest.h"
#include "sav3/crc32.h"
#include "sav3/device.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {

// Flushes the folder open at `fd` and closes it; false with errno when the
// flush failed.
bool flush_close(int fd) {
  const bool flushed = fsync(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return flushed;
}

// What one save walk works with.
struct Saving {
  bool act;   // make the image (else only count)
  bool keep;  // an image is there: only what it lacks is added
  std::uint64_t block_size;
  dev_t staging_device;
  int image;            // the image folder (act)
  std::FILE* manifest;  // its new manifest (act)
  ImageTally& tally;
  Failure& f;
};

bool saving_failed(Saving& s, const char* what, const char* tag, const char* path, int error) {
  char shown[sizeof TreePath{}.text + 16];
  std::snprintf(shown, sizeof shown, "%s/%s", image_place(tag)->tree, path);
  return fail_errno(s.f, what, shown, error);
}

// The copy of the file open at `from` to the new file `to` of the image,
// flushed; its size and CRC-32 as it goes.
bool copy_into(int from, int dirfd, const char* to, std::uint64_t& size, std::uint32_t& crc, int& error) {
  const int out = openat(dirfd, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    error = errno;
    return false;
  }
  bool ok = copy_bytes(from, out, size, crc) && fsync(out) == 0;
  error = errno;
  if (close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  return ok;
}

// One entry met by the save walk of a place (`tag`): counted, and with
// `act`, kept in the image. `in_place`: a file a copy writes into.
bool save_entry(Saving& s, const char* tag, int dirfd, const char* name, const char* path,
                const struct stat& st, bool in_place) {
  ImageEntry e{};
  e.kind = kind_of(st.st_mode);
  e.mode = st.st_mode & 07777;
  e.uid = st.st_uid;
  e.gid = st.st_gid;
  e.rdev = (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) ? static_cast<std::uint64_t>(st.st_rdev) : 0;
  std::snprintf(e.path, sizeof e.path, "%s/%s", tag, path);
  ImageTally& t = s.tally;
  t.entries += 1;
  const bool link = S_ISREG(st.st_mode) && !in_place && st.st_dev == s.staging_device;
  if (S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // A linked file's blocks are no longer freed by the removal of its
    // name; a copy takes its own.
    t.blocks +=
        link ? static_cast<std::uint64_t>(st.st_blocks) * 512 / s.block_size : blocks_for(size, s.block_size);
    t.inodes += 1;
    (link ? t.linked : t.copied) += 1;
    (link ? t.linked_bytes : t.copied_bytes) += size;
  } else if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) {
    t.blocks += 1;
    t.inodes += 1;
  }
  if (!s.act) return true;
  int error = 0;
  if (S_ISDIR(st.st_mode)) {
    if (mkdirat(s.image, e.path, 0700) != 0) return saving_failed(s, "before-image", tag, path, errno);
  } else if (S_ISREG(st.st_mode)) {
    const int from = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (from < 0) return saving_failed(s, "before-image", tag, path, errno);
    bool ok = true;
    e.how = 'C';
    if (link) {
      e.how = 'L';
      if (linkat(dirfd, name, s.image, e.path, 0) != 0) {
        error = errno;
        ok = false;
        if (error == EXDEV) {  // another mount of the same file system
          e.how = 'C';
          ok = true;
        }
      }
    }
    if (ok && e.how == 'L') {
      // The same inode: its bytes are not read (a huge or sparse report
      // costs nothing), the undo checks the identity. Its new link count
      // must reach the medium with the name.
      e.size = static_cast<std::uint64_t>(st.st_size);
      ok = fsync(from) == 0;
      error = errno;
    } else if (ok) {
      ok = copy_into(from, s.image, e.path, e.size, e.crc, error);
    }
    close(from);
    if (!ok) return saving_failed(s, "before-image", tag, path, error);
  } else if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = readlinkat(dirfd, name, target, sizeof target - 1);
    if (n < 0) return saving_failed(s, "before-image", tag, path, errno);
    target[n] = '\0';
    e.size = static_cast<std::uint64_t>(n);
    e.crc = crc32(ConstBytes(reinterpret_cast<const std::uint8_t*>(target), static_cast<std::size_t>(n)));
    if (symlinkat(target, s.image, e.path) != 0) return saving_failed(s, "before-image", tag, path, errno);
  }
  if (!write_image_entry(s.manifest, e)) return saving_failed(s, "before-image manifest", tag, path, errno);
  return true;
}

// An entry the commands keep: its name only, so that the undo leaves it.
bool record_kept(Saving& s, const char* tag, const char* name) {
  if (!s.act) return true;
  ImageEntry e{};
  e.kind = 'k';
  std::snprintf(e.path, sizeof e.path, "%s/%s", tag, name);
  return write_image_entry(s.manifest, e) || saving_failed(s, "before-image manifest", tag, name, errno);
}

// What the commands do with a top-level entry of a place.
enum class Fate { untouched, kept, saved };

Fate fate_of(const char* tag, int root, dev_t device, const char* name, const struct stat& st,
             bool& in_place) {
  in_place = false;
  if (std::strcmp(tag, "sav2") != 0) return name[0] == '.' ? Fate::untouched : Fate::saved;
  // /usr/sav2: the wipe keeps "update" entries and mounts the staging tree
  // has no name for; a kept entry the staging tree names is written into in
  // place (a regular file with one link) or removed first.
  const bool named = staging_tree_names(name);
  if (!named && (has_update(name) || holds_mount_point(root, name, device))) return Fate::kept;
  in_place = has_update(name) && S_ISREG(st.st_mode) && st.st_nlink == 1;
  return Fate::saved;
}

// Saves what the commands remove or write over in one tree.
bool save_tree(Saving& s, const ImagePlace& place) {
  const int root = open_device_folder(place.tree);
  if (root < 0) {
    if (means_absent(errno)) return true;  // a missing live tree: nothing to keep
    return fail_errno(s.f, "before-image", place.tree, errno);
  }
  struct stat root_st;
  if (fstat(root, &root_st) != 0) {
    const int error = errno;
    close(root);
    return fail_errno(s.f, "before-image", place.tree, error);
  }
  if (s.act && mkdirat(s.image, place.tag, 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    close(root);
    return fail_errno(s.f, "before-image", path::before_image, error);
  }
  bool ok = true;
  bool in_place = false;
  TreePath walked{};
  const bool whole = walk_tree(
      root, walked,
      [&](int dirfd, const char* name, const char* path, const struct stat& st) {
        if (!ok) return Step::stop;
        if (walked.hidden != 0) {
          ok = fail(s.f, "before-image", place.tree, "a path too long");
          return Step::stop;
        }
        if (is_top_level(path)) {
          const Fate fate = fate_of(place.tag, root, root_st.st_dev, name, st, in_place);
          if (fate == Fate::untouched) return Step::next;
          char listed[sizeof ImageEntry{}.path];
          std::snprintf(listed, sizeof listed, "%s/%s", place.tag, name);
          // A second full run keeps what the first one saved.
          const Seen saved = s.keep ? image_lists(listed) : Seen::absent;
          if (saved == Seen::failed) {
            ok = fail_errno(s.f, "before-image manifest", path::before_image, errno);
            return Step::stop;
          }
          if (saved == Seen::present) return Step::next;
          if (s.act && s.keep) {
            // What a run cut short left of an entry it had not listed.
            char image_folder[16];
            std::snprintf(image_folder, sizeof image_folder, "%s", place.tag);
            const int tag_fd = openat(s.image, image_folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (tag_fd >= 0) {
              static_cast<void>(remove_entry(tag_fd, name, listed, s.staging_device));
              close(tag_fd);
            }
          }
          if (fate == Fate::kept) {
            ok = record_kept(s, place.tag, name);
            return Step::next;
          }
        } else if (S_ISDIR(st.st_mode) && crosses_mount(st, root_st.st_dev)) {
          // The checks before the first command allow none here.
          char shown[sizeof TreePath{}.text + 16];
          std::snprintf(shown, sizeof shown, "%s/%s", place.tree, path);
          ok = fail(s.f, "before-image", shown, "a mount point");
          return Step::stop;
        }
        ok = save_entry(s, place.tag, dirfd, name, path, st, in_place && is_top_level(path));
        return ok && S_ISDIR(st.st_mode) ? Step::enter : Step::next;
      },
      [&](int, const char*, const char* path, const struct stat&, int) {
        if (!s.act || !ok) return true;
        // Each folder of the image flushed once it holds all it will.
        char image_path[sizeof ImageEntry{}.path];
        std::snprintf(image_path, sizeof image_path, "%s/%s", place.tag, path);
        const int fd = openat(s.image, image_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || !flush_close(fd)) ok = saving_failed(s, "before-image", place.tag, path, errno);
        return ok;
      });
  close(root);
  if (ok && !whole) return fail(s.f, "before-image", place.tree, "a folder could not be read whole");
  if (ok && s.act) {
    const int fd = openat(s.image, place.tag, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !flush_close(fd)) return fail_errno(s.f, "before-image", path::before_image, errno);
  }
  return ok;
}

// The old programs that the opening commands delete (rm without -r: a file
// or a link, never a folder).
bool save_programs(Saving& s) {
  const ImagePlace& place = *image_place("mnt2");
  for (const char* device_path : old_programs) {
    // Below /mnt/2, as the image keeps it.
    const char* program = device_path + std::strlen(place.tree) + 1;
    char listed[sizeof ImageEntry{}.path];
    std::snprintf(listed, sizeof listed, "%s/%s", place.tag, program);
    const Look look = look_path(device_path, false);
    if (look.seen == Seen::failed) return fail_errno(s.f, "before-image", device_path, look.error);
    if (look.seen == Seen::absent || S_ISDIR(look.st.st_mode)) continue;
    const Seen saved = s.keep ? image_lists(listed) : Seen::absent;
    if (saved == Seen::failed) return fail_errno(s.f, "before-image manifest", path::before_image, errno);
    if (saved == Seen::present) continue;
    if (s.act && !make_image_parents(s.image, listed))
      return fail_errno(s.f, "before-image", path::before_image, errno);
    HostPath folder = host_path(device_path);
    char* slash = std::strrchr(folder.text, '/');
    *slash = '\0';
    const int dirfd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0) return fail_errno(s.f, "before-image", device_path, errno);
    const bool ok = save_entry(s, place.tag, dirfd, slash + 1, program, look.st, false);
    close(dirfd);
    if (!ok) return false;
  }
  return true;
}

bool save_all(Saving& s) {
  if (!save_programs(s)) return false;
  for (const ImagePlace& place : image_places) {
    if (std::strcmp(place.tag, "mnt2") == 0) continue;
    // A second full run finds the first one's staging tree in /usr/sav3:
    // what was there before the migration is already in the image.
    if (s.keep && std::strcmp(place.tag, "sav3") == 0) continue;
    if (!save_tree(s, place)) return false;
  }
  return true;
}

dev_t staging_device() {
  struct stat st;
  return stat(host_path(path::staging), &st) == 0 ? st.st_dev : 0;
}

}  // namespace

bool weigh_before_image(std::uint64_t block_size, bool keep, ImageTally& tally, Failure& f) {
  tally = ImageTally{};
  Saving s{false, keep, block_size != 0 ? block_size : 1, staging_device(), -1, nullptr, tally, f};
  if (!save_all(s)) return false;
  // The image's own folders and its manifest.
  tally.blocks += 6 + blocks_for(tally.entries * 64, s.block_size);
  tally.inodes += 6;
  return true;
}

bool make_before_image(bool keep, ImageTally& tally, Failure& f) {
  tally = ImageTally{};
  const HostPath image_path = host_path(path::before_image);
  if (!keep) {
    if (!remove_before_image(f)) return false;
    if (mkdir(image_path, 0700) != 0) return fail_errno(f, "before-image", path::before_image, errno);
  }
  const int image = open(image_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (image < 0) return fail_errno(f, "before-image", path::before_image, errno);
  std::FILE* manifest = begin_image_manifest(image, keep);
  bool ok = manifest != nullptr || fail_errno(f, "before-image manifest", path::before_image, errno);
  if (ok) {
    Saving s{true, keep, 4096, staging_device(), image, manifest, tally, f};
    ok = save_all(s);
    if (keep) {
      // The count covers the whole image, the kept part included.
      Failure ignored{};
      ImageTally old{};
      if (read_before_image(old, ignored) == Seen::present) {
        tally.entries += old.entries;
        tally.linked += old.linked;
        tally.copied += old.copied;
        tally.linked_bytes += old.linked_bytes;
        tally.copied_bytes += old.copied_bytes;
      }
    }
    ok = commit_image_manifest(image, manifest, ok) && ok;
    if (!ok && f.what == nullptr) ok = fail_errno(f, "before-image manifest", path::before_image, errno);
  }
  close(image);
  if (!ok) {
    // Without its manifest the image is no image: it goes, and the run
    // migrates without it.
    Failure ignored{};
    static_cast<void>(remove_before_image(ignored));
    return false;
  }
  return true;
}

Seen read_before_image(ImageTally& tally, Failure& f) {
  tally = ImageTally{};
  ImageReader reader{};
  const Seen seen = open_image_manifest(reader);
  if (seen != Seen::present) {
    if (seen == Seen::failed) static_cast<void>(fail_errno(f, "before-image", path::before_image, errno));
    return seen;
  }
  ImageEntry e;
  int got;
  while ((got = next_image_entry(reader, e)) == 1) {
    if (e.kind == 'k') continue;
    tally.entries += 1;
    if (e.kind != 'f') continue;
    (e.how == 'L' ? tally.linked : tally.copied) += 1;
    (e.how == 'L' ? tally.linked_bytes : tally.copied_bytes) += e.size;
  }
  close_image_manifest(reader);
  if (got < 0) {
    static_cast<void>(fail(f, "before-image", path::before_image, "manifest unreadable"));
    return Seen::failed;
  }
  return Seen::present;
}

bool remove_before_image(Failure& f) {
  const Look look = look_path(path::before_image, false);
  if (look.seen == Seen::absent) return true;
  if (look.seen == Seen::failed) return fail_errno(f, "before-image", path::before_image, look.error);
  const int staging = open_device_folder(path::staging);
  if (staging < 0) return fail_errno(f, "before-image", path::staging, errno);
  struct stat st;
  bool ok = fstat(staging, &st) == 0 && remove_entry(staging, ".before", path::before_image, st.st_dev);
  ok = ok && fsync(staging) == 0;
  const int error = errno;
  close(staging);
  return ok || fail_errno(f, "before-image", path::before_image, error);
}

}  // namespace sav3
