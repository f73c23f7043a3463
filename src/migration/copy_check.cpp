// A copy that fails half-way (a read error on the old medium, a full staging
// file system) leaves a short or empty file that the replacement would put
// into both live trees in place of the original; the shell's status is not
// judged, so the bytes are compared before anything is converted over them.
#include "copy_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sav3/device.h"
#include "sav3/look.h"

namespace sav3 {

namespace {

// Reads up to `size` bytes; the count read, or -1 on an error.
ssize_t read_full(int fd, std::uint8_t* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool same_bytes(const char* source, const char* copy) {
  const int a = open(host_path(source), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const int b = open(host_path(copy), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  bool same = a >= 0 && b >= 0;
  std::uint8_t left[16 * 1024];
  std::uint8_t right[sizeof left];
  while (same) {
    const ssize_t n = read_full(a, left, sizeof left);
    const ssize_t m = read_full(b, right, sizeof right);
    same = n >= 0 && n == m && std::memcmp(left, right, static_cast<std::size_t>(n)) == 0;
    if (n == 0) break;
  }
  if (a >= 0) close(a);
  if (b >= 0) close(b);
  return same;
}

// A source that cp copies: it resolves to a regular file (folders and
// dangling links are skipped by cp and not expected). A look that fails is
// not "not copied": the copy must then be there all the same.
bool copied(const char* source) {
  const Look look = look_path(source, true);
  return look.seen == Seen::failed || (look.seen == Seen::present && S_ISREG(look.st.st_mode));
}

bool check_one(const char* source, const char* copy, char* failed, std::size_t capacity) {
  if (!copied(source) || same_bytes(source, copy)) return true;
  std::snprintf(failed, capacity, "%s", source);
  return false;
}

bool check_folder(const char* from, const char* to, char* failed, std::size_t capacity) {
  DIR* dir = opendir(host_path(from));
  if (dir == nullptr) {
    // Nothing to copy only when the folder is not there; one that cannot be
    // read is a copy that cannot be checked.
    if (means_absent(errno)) return true;
    std::snprintf(failed, capacity, "%s", from);
    return false;
  }
  bool ok = true;
  int error = 0;
  while (ok) {
    const dirent* e = next_entry(dir, error);
    if (e == nullptr) {
      if (error != 0) {
        std::snprintf(failed, capacity, "%s", from);
        ok = false;
      }
      break;
    }
    if (e->d_name[0] == '.') continue;  // the glob does not see them
    char source[512];
    char copy[512];
    const int n = std::snprintf(source, sizeof source, "%s/%s", from, e->d_name);
    const int m = std::snprintf(copy, sizeof copy, "%s/%s", to, e->d_name);
    if (n < 0 || m < 0 || static_cast<std::size_t>(n) >= sizeof source ||
        static_cast<std::size_t>(m) >= sizeof copy) {
      std::snprintf(failed, capacity, "%s", from);
      ok = false;
      break;
    }
    ok = check_one(source, copy, failed, capacity);
  }
  closedir(dir);
  return ok;
}

}  // namespace

bool copies_match_sources(char* failed, std::size_t capacity) {
  for (const CopySource& source : copy_sources) {
    if (source.folder_entries) {
      if (!check_folder(source.from, source.into, failed, capacity)) return false;
      continue;
    }
    char copy[512];
    std::snprintf(copy, sizeof copy, "%s/%s", source.into, last_name(source.from));
    if (!check_one(source.from, copy, failed, capacity)) return false;
  }
  return true;
}

}  // namespace sav3
