// The three answers of a look at the device, and the failure value that
// carries a failed one to its log line.
#include "sav3/look.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sav3/device.h"
#include "sav3/legacy_file.h"
#include "sav3/system_log.h"

namespace sav3 {

bool means_absent(int error) { return error == ENOENT || error == ENOTDIR; }

namespace {
Look answer(int result, const struct stat& st) {
  if (result == 0) return {Seen::present, 0, st};
  const int error = errno;
  return {means_absent(error) ? Seen::absent : Seen::failed, error, {}};
}
}  // namespace

Look look_path(const char* device_path, bool follow) {
  struct stat st {};
  return answer(follow ? stat(host_path(device_path), &st) : lstat(host_path(device_path), &st), st);
}

Look look_entry(int dirfd, const char* name, bool follow) {
  struct stat st {};
  return answer(fstatat(dirfd, name, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW), st);
}

const dirent* next_entry(DIR* dir, int& error) {
  for (;;) {
    errno = 0;
    const dirent* e = readdir(dir);
    if (e == nullptr) {
      error = errno;
      return nullptr;
    }
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      error = 0;
      return e;
    }
  }
}

int open_regular_at(int dirfd, const char* name, int flags, Look& look) {
  look = look_entry(dirfd, name, (flags & O_NOFOLLOW) == 0);
  if (look.seen != Seen::present) return -1;
  if (!S_ISREG(look.st.st_mode)) {
    look = {Seen::failed, S_ISDIR(look.st.st_mode) ? EISDIR : not_a_regular_file, look.st};
    return -1;
  }
  // Without blocking: what was a file at the look may be a FIFO by the open.
  const int fd = openat(dirfd, name, flags | O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    look = {means_absent(error) ? Seen::absent : Seen::failed, error, {}};
    return -1;
  }
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) != 0)
    error = errno;
  else if (!S_ISREG(st.st_mode))
    error = not_a_regular_file;
  if (error != 0) {
    close(fd);
    look = {Seen::failed, error, {}};
    return -1;
  }
  look.st = st;
  return fd;
}

int open_regular(const char* device_path, Look& look) {
  return open_regular_at(AT_FDCWD, host_path(device_path), 0, look);
}

bool fail(Failure& f, const char* what, const char* path, const char* text) {
  f.what = what;
  std::snprintf(f.path, sizeof f.path, "%s", escaped(path).text);
  std::snprintf(f.error, sizeof f.error, "%s", escaped(text).text);
  return false;
}

bool fail_errno(Failure& f, const char* what, const char* path, int error) {
  return fail(f, what, path, read_error_text(error));
}

}  // namespace sav3
