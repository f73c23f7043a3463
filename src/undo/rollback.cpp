// sav3-migrate --rollback and --commit.
//
// The undo puts back what the before-image holds, place by place: what the
// migration wrote where it had removed something goes first (every entry of
// a place but those it never touches: the dot entries of /usr/sav and
// /usr/sav3, the entries of /usr/sav2 that the image lists as kept), then
// each saved entry comes back (a linked file as a link to the same inode, a
// copied one as a copy, with its owner and mode), then everything is checked
// against the manifest and flushed. The image stays untouched until the state
// says "rolled back", so an undo cut short at any point is done again whole
// by the next --rollback or boot ("rolling back").
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "../look/mounts.h"
#include "../look/tree.h"
#include "../state/state_file.h"
#include "before_image.h"
#include "image_manifest.h"
#include "sav3/crc32.h"
#include "sav3/device.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {

// The folder that holds the entry `path` of a place ("sav/data/x"), opened
// step by step without following a link (the old programs' folders below
// /mnt/2 are followed, as rm follows them, and made when missing); `name`
// points at the last component.
int open_parent(const char* path, const char*& name) {
  const char* slash = std::strchr(path, '/');
  char tag[8] = {};
  std::memcpy(tag, path, static_cast<std::size_t>(slash - path));
  const ImagePlace* place = image_place(tag);
  const bool programs = std::strcmp(tag, "mnt2") == 0;
  int fd = open(host_path(place->tree), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && programs && errno == ENOENT && make_device_folder(place->tree))
    fd = open(host_path(place->tree), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const char* c = slash + 1;
  for (const char* end = std::strchr(c, '/'); fd >= 0 && end != nullptr; end = std::strchr(c, '/')) {
    char step[256];
    const auto n = static_cast<std::size_t>(end - c);
    if (n >= sizeof step) {
      close(fd);
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(step, c, n);
    step[n] = '\0';
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (programs ? 0 : O_NOFOLLOW);
    int next = openat(fd, step, flags);
    // A folder made again: its name on the medium before what goes in it.
    if (next < 0 && programs && errno == ENOENT && mkdirat(fd, step, 0755) == 0 && fsync(fd) == 0)
      next = openat(fd, step, flags);
    const int error = errno;
    close(fd);
    errno = error;
    fd = next;
    c = end + 1;
  }
  name = c;
  return fd;
}

bool undo_failed(Failure& f, const char* path, int error) {
  char shown[sizeof ImageEntry{}.path + 16];
  const char* slash = std::strchr(path, '/');
  char tag[8] = {};
  std::memcpy(tag, path, static_cast<std::size_t>(slash - path));
  std::snprintf(shown, sizeof shown, "%s%s", image_place(tag)->tree, slash);
  return fail_errno(f, "rollback", shown, error);
}

// What the migration may have written in a place goes, but what it never
// touches.
bool clear_place(int image, const ImagePlace& place, Failure& f) {
  if (std::strcmp(place.tag, "mnt2") == 0) {
    // Only the saved programs: the new firmware's own files there stay.
    ImageReader reader{};
    if (open_image_manifest(reader) != Seen::present)
      return fail_errno(f, "rollback", path::before_image, errno);
    ImageEntry e;
    int got;
    bool ok = true;
    while (ok && (got = next_image_entry(reader, e)) == 1) {
      if (std::strncmp(e.path, "mnt2/", 5) != 0) continue;
      const char* name = nullptr;
      const int parent = open_parent(e.path, name);
      if (parent < 0) {
        ok = undo_failed(f, e.path, errno);
        break;
      }
      if (unlinkat(parent, name, 0) != 0 && errno != ENOENT) ok = undo_failed(f, e.path, errno);
      close(parent);
    }
    close_image_manifest(reader);
    return ok;
  }
  const int root = open_device_folder(place.tree);
  if (root < 0) {
    if (errno != ENOENT) return fail_errno(f, "rollback", place.tree, errno);
    // Gone since: made again when it was there before the migration (the
    // image has a folder for it), else left absent, as it was.
    struct stat there;
    if (fstatat(image, place.tag, &there, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT || fail_errno(f, "rollback", path::before_image, errno);
    return make_device_folder(place.tree) || fail_errno(f, "rollback", place.tree, errno);
  }
  struct stat root_st;
  bool ok = fstat(root, &root_st) == 0 || fail_errno(f, "rollback", place.tree, errno);
  const bool live2 = std::strcmp(place.tag, "sav2") == 0;
  TreePath walked{};
  const bool whole =
      ok && walk_tree(root, walked, [&](int, const char* name, const char*, const struct stat& st) {
        char listed[sizeof ImageEntry{}.path];
        std::snprintf(listed, sizeof listed, "%s/%s", place.tag, name);
        if (!live2 && name[0] == '.') return Step::next;
        // What the run kept stays; a manifest that cannot be read stops the
        // undo before it removes anything more.
        const Seen kept = live2 ? image_lists(listed, 'k') : Seen::absent;
        if (kept == Seen::failed) {
          ok = fail_errno(f, "rollback", path::before_image, errno);
          return Step::stop;
        }
        if (kept == Seen::present) return Step::next;
        char shown[sizeof listed + 16];
        std::snprintf(shown, sizeof shown, "%s/%s", place.tree, name);
        // A folder on its own partition is emptied there (the image refills it).
        const bool gone = S_ISDIR(st.st_mode) && crosses_mount(st, root_st.st_dev)
                              ? empty_folder(root, name, shown, st.st_dev)
                              : remove_entry(root, name, shown, root_st.st_dev);
        if (!gone) ok = fail(f, "rollback", shown, "could not be removed");
        return Step::next;
      });
  close(root);
  if (ok && !whole) return fail(f, "rollback", place.tree, "a folder could not be read whole");
  // The image has a folder for each tree that was there: one the migration
  // made goes again.
  struct stat there;
  if (ok && fstatat(image, place.tag, &there, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return fail_errno(f, "rollback", path::before_image, errno);
    HostPath parent = host_path(place.tree);
    char* slash = std::strrchr(parent.text, '/');
    *slash = '\0';
    const int fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = fd >= 0 && unlinkat(fd, slash + 1, AT_REMOVEDIR) == 0 && fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) close(fd);
    if (!ok) return fail_errno(f, "rollback", place.tree, error);
  }
  return ok;
}

// One saved entry back in its place.
bool put_back(int image, const ImageEntry& e, Failure& f) {
  const char* name = nullptr;
  const int parent = open_parent(e.path, name);
  if (parent < 0) return undo_failed(f, e.path, errno);
  int error = 0;
  bool ok = true;
  const mode_t type = type_of(e.kind);
  if (e.kind == 'd') {
    struct stat st;
    ok = mkdirat(parent, name, 0700) == 0 ||
         (errno == EEXIST && fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode));
  } else if (e.kind == 'f' && e.how == 'L') {
    ok = linkat(image, e.path, parent, name, 0) == 0;
  } else if (e.kind == 'f') {
    const int from = openat(image, e.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int to =
        from < 0 ? -1 : openat(parent, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    ok = to >= 0 && copy_bytes(from, to, size, crc) && fsync(to) == 0;
    error = errno;
    if (from >= 0) close(from);
    if (to >= 0 && close(to) != 0 && ok) {
      ok = false;
      error = errno;
    }
    errno = error;
  } else if (e.kind == 'l') {
    char target[4096];
    const ssize_t n = readlinkat(image, e.path, target, sizeof target - 1);
    if (n >= 0) target[n] = '\0';
    ok = n >= 0 && symlinkat(target, parent, name) == 0;
  } else {
    ok = mknodat(parent, name, type | (e.mode & 07777), static_cast<dev_t>(e.rdev)) == 0;
  }
  // Owner and mode as they were (a linked file has its own already); a
  // link's mode is not its own.
  if (ok && e.how != 'L')
    ok = fchownat(parent, name, e.uid, e.gid, AT_SYMLINK_NOFOLLOW) == 0 &&
         (e.kind == 'l' || fchmodat(parent, name, e.mode, 0) == 0);
  error = errno;
  close(parent);
  return ok || undo_failed(f, e.path, error);
}

// The entry is back as the manifest says, and on the medium.
bool checked(int image, const ImageEntry& e, Failure& f) {
  const char* name = nullptr;
  const int parent = open_parent(e.path, name);
  if (parent < 0) return undo_failed(f, e.path, errno);
  struct stat st;
  const char* differs = nullptr;
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    const int error = errno;
    close(parent);
    return undo_failed(f, e.path, error);
  }
  if ((st.st_mode & S_IFMT) != type_of(e.kind))
    differs = "not of its kind";
  else if (e.kind != 'l' && (st.st_mode & 07777) != e.mode)
    differs = "not of its mode";
  else if (st.st_uid != e.uid || st.st_gid != e.gid)
    differs = "not of its owner";
  else if ((e.kind == 'c' || e.kind == 'b') && static_cast<std::uint64_t>(st.st_rdev) != e.rdev)
    differs = "not the same device";
  struct stat kept;
  if (differs == nullptr && e.how == 'L' &&
      (fstatat(image, e.path, &kept, AT_SYMLINK_NOFOLLOW) != 0 || kept.st_dev != st.st_dev ||
       kept.st_ino != st.st_ino || static_cast<std::uint64_t>(st.st_size) != e.size))
    differs = "not the file it was";
  if (differs == nullptr && (e.kind == 'f' || e.kind == 'd')) {
    const int fd = openat(parent, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    const bool copied = e.kind == 'f' && e.how != 'L';
    if (fd < 0 || (copied && !fingerprint_file(fd, size, crc)) || fsync(fd) != 0) {
      const int error = errno;
      if (fd >= 0) close(fd);
      close(parent);
      return undo_failed(f, e.path, error);
    }
    close(fd);
    if (copied && (size != e.size || crc != e.crc)) differs = "not the same bytes";
  } else if (differs == nullptr && e.kind == 'l') {
    char target[4096];
    const ssize_t n = readlinkat(parent, name, target, sizeof target);
    if (n < 0 || static_cast<std::uint64_t>(n) != e.size ||
        crc32(ConstBytes(reinterpret_cast<const std::uint8_t*>(target), static_cast<std::size_t>(n))) !=
            e.crc)
      differs = "not the same target";
  }
  // The new name on the medium.
  const bool flushed = fsync(parent) == 0;
  const int error = errno;
  close(parent);
  if (differs != nullptr) {
    char shown[sizeof ImageEntry{}.path + 16];
    const char* slash = std::strchr(e.path, '/');
    char tag[8] = {};
    std::memcpy(tag, e.path, static_cast<std::size_t>(slash - e.path));
    std::snprintf(shown, sizeof shown, "%s%s", image_place(tag)->tree, slash);
    return fail(f, "rollback", shown, differs);
  }
  return flushed || undo_failed(f, e.path, error);
}

// Every place cleared, every entry put back, then checked.
bool undo(Failure& f, std::uint64_t& entries) {
  entries = 0;
  if (!map_mounts(run_mounts(), f)) return false;
  const int image = open(host_path(path::before_image), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (image < 0) return fail_errno(f, "rollback", path::before_image, errno);
  bool ok = true;
  for (const ImagePlace& place : image_places) {
    if (ok) ok = clear_place(image, place, f);
  }
  for (const bool check : {false, true}) {
    if (!ok) break;
    ImageReader reader{};
    if (open_image_manifest(reader) != Seen::present) {
      ok = fail_errno(f, "rollback", path::before_image, errno);
      break;
    }
    ImageEntry e;
    int got;
    while (ok && (got = next_image_entry(reader, e)) == 1) {
      if (e.kind == 'k') continue;
      ok = check ? checked(image, e, f) : put_back(image, e, f);
      if (check) ++entries;
    }
    close_image_manifest(reader);
    if (ok && got < 0) ok = fail(f, "rollback", path::before_image, "manifest unreadable");
    if (!ok) break;
  }
  close(image);
  return ok;
}

void tell(std::FILE* to, const char* format, ...) __attribute__((format(printf, 2, 3)));
void tell(std::FILE* to, const char* format, ...) {
  if (to == nullptr) return;
  va_list args;
  va_start(args, format);
  std::fputs("sav3-migrate: ", to);
  std::vfprintf(to, format, args);
  std::fputc('\n', to);
  va_end(args);
}

int refuse(std::FILE* err, const char* line, const char* why) {
  note(LOG_WARNING, line, why);
  tell(err, line, why);
  return 1;
}

// The undo under the lock.
int roll_back_locked(std::FILE* out, std::FILE* err) {
  const StateInfo state = read_state();
  Failure f{};
  ImageTally tally{};
  if (state.state == State::rolled_back) {
    // A cut after the state was written, before the image was gone.
    static_cast<void>(remove_before_image(f));
    note(LOG_NOTICE, "%s", log_line::already_rolled_back);
    tell(out, "%s", log_line::already_rolled_back);
    return 0;
  }
  const Seen image = read_before_image(tally, f);
  if (image == Seen::absent) return refuse(err, log_line::rollback_refused, rollback_refusal::no_image);
  if (image == Seen::failed) return refuse(err, log_line::rollback_refused, f.error);
  if (state.state == State::unreadable)
    return refuse(err, log_line::rollback_refused, rollback_refusal::state);
  if (state.state != State::rolling_back && !write_state("%s", state_word::rolling_back))
    return refuse(err, log_line::rollback_refused, error_text(errno).text);
  note(LOG_NOTICE, log_line::rolling_back, static_cast<unsigned long long>(tally.entries));
  std::uint64_t entries = 0;
  if (!undo(f, entries)) {
    note(LOG_ERR, log_line::rollback_failed, f.what, f.path, f.error);
    tell(err, log_line::rollback_failed, f.what, f.path, f.error);
    return 1;
  }
  forget_failure();
  if (!write_state("%s", state_word::rolled_back)) {
    note(LOG_ERR, log_line::state_not_written, state_word::rolled_back, error_text(errno).text);
    tell(err, log_line::state_not_written, state_word::rolled_back, error_text(errno).text);
    return 1;
  }
  // Best effort: a run or --rollback that finds "rolled back" removes what
  // is left of it.
  static_cast<void>(remove_before_image(f));
  note(LOG_NOTICE, log_line::rolled_back, static_cast<unsigned long long>(entries));
  tell(out, log_line::rolled_back, static_cast<unsigned long long>(entries));
  return 0;
}

int commit_locked(std::FILE* out, std::FILE* err) {
  const StateInfo state = read_state();
  if (state.state != State::done) return refuse(err, log_line::commit_refused, rollback_refusal::not_done);
  Failure f{};
  ImageTally tally{};
  const Seen image = read_before_image(tally, f);
  if (image == Seen::failed) return refuse(err, log_line::commit_refused, f.error);
  if (!remove_before_image(f)) return refuse(err, log_line::commit_refused, f.error);
  const auto bytes = static_cast<unsigned long long>(tally.copied_bytes + tally.linked_bytes);
  note(LOG_NOTICE, log_line::committed, bytes);
  tell(out, log_line::committed, bytes);
  return 0;
}

// Under the run's lock: an undo never runs beside a run.
int locked(int (*what)(std::FILE*, std::FILE*), const char* line, std::FILE* out, std::FILE* err) {
  const int staging = open(host_path(path::staging), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (staging < 0) return refuse(err, line, rollback_refusal::staging);
  int status = 1;
  if (flock(staging, LOCK_EX | LOCK_NB) == 0)
    status = what(out, err);
  else
    status = refuse(err, line, rollback_refusal::locked);
  close(staging);
  return status;
}

}  // namespace

int roll_back(std::FILE* out, std::FILE* err) {
  return locked(roll_back_locked, log_line::rollback_refused, out, err);
}

int commit(std::FILE* out, std::FILE* err) {
  return locked(commit_locked, log_line::commit_refused, out, err);
}

int rollback_migration(std::FILE* out, std::FILE* err, Logger log) {
  set_logger(log);
  umask(022);
  const int status = roll_back(out, err);
  set_logger(nullptr);
  return status;
}

int commit_migration(std::FILE* out, std::FILE* err, Logger log) {
  set_logger(log);
  const int status = commit(out, err);
  set_logger(nullptr);
  return status;
}

void finish_rollback() { static_cast<void>(roll_back_locked(nullptr, nullptr)); }

}  // namespace sav3
