// The before-image's manifest: one line per entry, written whole and renamed
// into place, so that an image without it is an image cut short.
#include "image_manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "before_image.h"
#include "sav3/bytes.h"
#include "sav3/crc32.h"
#include "sav3/device.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {
constexpr char manifest_name[] = "manifest";
constexpr char manifest_temp[] = "manifest.new";

// A path of a place: its tag, then plain names (no empty, "." or ".."
// component), so that no entry names anything outside its place.
bool plain_image_path(const char* p) {
  const char* slash = std::strchr(p, '/');
  if (slash == nullptr) return false;
  char tag[8] = {};
  const auto n = static_cast<std::size_t>(slash - p);
  if (n >= sizeof tag) return false;
  std::memcpy(tag, p, n);
  if (image_place(tag) == nullptr) return false;
  for (const char* c = slash + 1;;) {
    const char* end = std::strchr(c, '/');
    const std::size_t len = end != nullptr ? static_cast<std::size_t>(end - c) : std::strlen(c);
    if (len == 0 || (len == 1 && c[0] == '.') || (len == 2 && c[0] == '.' && c[1] == '.')) return false;
    if (end == nullptr) return true;
    c = end + 1;
  }
}
}  // namespace

const ImagePlace* image_place(const char* tag) {
  for (const ImagePlace& place : image_places)
    if (std::strcmp(place.tag, tag) == 0) return &place;
  return nullptr;
}

char kind_of(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return 'd';
    case S_IFREG: return 'f';
    case S_IFLNK: return 'l';
    case S_IFIFO: return 'p';
    case S_IFSOCK: return 's';
    case S_IFCHR: return 'c';
    case S_IFBLK: return 'b';
    default: return '?';
  }
}

mode_t type_of(char kind) {
  switch (kind) {
    case 'd': return S_IFDIR;
    case 'f': return S_IFREG;
    case 'l': return S_IFLNK;
    case 'p': return S_IFIFO;
    case 's': return S_IFSOCK;
    case 'c': return S_IFCHR;
    case 'b': return S_IFBLK;
    default: return 0;
  }
}

bool write_image_entry(std::FILE* out, const ImageEntry& e) {
  char shown[4 * sizeof e.path];
  if (!escape_name(e.path, shown, sizeof shown)) {
    errno = ENAMETOOLONG;
    return false;
  }
  return std::fprintf(out, "%c %c %o %u %u %" PRIu64 " %08" PRIx32 " %" PRIu64 " %s\n", e.kind,
                      e.how != '\0' ? e.how : '-', e.mode, e.uid, e.gid, e.size, e.crc, e.rdev, shown) > 0;
}

std::FILE* begin_image_manifest(int image, bool keep) {
  if (unlinkat(image, manifest_temp, 0) != 0 && errno != ENOENT) return nullptr;
  const int fd = openat(image, manifest_temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  if (!keep) return file;
  // The lines of the image there: a second full run keeps what the first saved.
  ImageReader reader{};
  bool ok = open_image_manifest(reader) == Seen::present;
  while (ok && std::fgets(reader.line, sizeof reader.line, reader.file) != nullptr)
    ok = std::fputs(reader.line, file) >= 0;
  if (reader.file != nullptr) {
    ok = ok && !std::ferror(reader.file);
    close_image_manifest(reader);
  }
  if (ok) return file;
  const int error = errno;
  std::fclose(file);
  static_cast<void>(unlinkat(image, manifest_temp, 0));
  errno = error != 0 ? error : EIO;
  return nullptr;
}

bool commit_image_manifest(int image, std::FILE* file, bool ok) {
  ok = ok && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  int error = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && renameat(image, manifest_temp, image, manifest_name) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    static_cast<void>(unlinkat(image, manifest_temp, 0));
    errno = error;
    return false;
  }
  // The image's name in /usr/sav3 and the manifest's in the image.
  const int staging = open(host_path(path::staging), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = fsync(image) == 0 && staging >= 0 && fsync(staging) == 0;
  error = errno;
  if (staging >= 0) close(staging);
  errno = error;
  return ok;
}

Seen open_image_manifest(ImageReader& reader) {
  reader.file = nullptr;
  char manifest[sizeof path::before_image + 16];
  std::snprintf(manifest, sizeof manifest, "%s/%s", path::before_image, manifest_name);
  Look look;
  const int fd = open_regular(manifest, look);
  if (fd < 0) {
    if (look.seen == Seen::absent) return Seen::absent;
    errno = look.error > 0 ? look.error : EINVAL;
    return Seen::failed;
  }
  reader.file = fdopen(fd, "r");
  if (reader.file == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return Seen::failed;
  }
  return Seen::present;
}

int next_image_entry(ImageReader& reader, ImageEntry& e) {
  char* line = reader.line;
  if (std::fgets(line, sizeof reader.line, reader.file) == nullptr) return std::feof(reader.file) ? 0 : -1;
  const std::size_t n = std::strlen(line);
  if (n == 0 || line[n - 1] != '\n') return -1;
  line[n - 1] = '\0';
  e = ImageEntry{};
  int at = 0;
  if (std::sscanf(line, "%c %c %o %u %u %" SCNu64 " %8" SCNx32 " %" SCNu64 " %n", &e.kind, &e.how, &e.mode,
                  &e.uid, &e.gid, &e.size, &e.crc, &e.rdev, &at) != 8 ||
      at == 0)
    return -1;
  if (e.kind != 'k' && type_of(e.kind) == 0) return -1;
  if (std::strlen(line + at) >= sizeof e.path) return -1;
  std::memcpy(e.path, line + at, std::strlen(line + at) + 1);
  return unescape_name(e.path) && plain_image_path(e.path) ? 1 : -1;
}

void close_image_manifest(ImageReader& reader) {
  if (reader.file != nullptr) std::fclose(reader.file);
  reader.file = nullptr;
}

Seen image_lists(const char* path, char kind) {
  ImageReader reader{};
  if (open_image_manifest(reader) != Seen::present) {
    if (errno == 0) errno = ENOENT;
    return Seen::failed;
  }
  ImageEntry e;
  bool listed = false;
  int got = 0;
  while (!listed && (got = next_image_entry(reader, e)) == 1)
    listed = std::strcmp(e.path, path) == 0 && (kind == '\0' || e.kind == kind);
  close_image_manifest(reader);
  if (listed) return Seen::present;
  if (got < 0) {
    errno = EINVAL;
    return Seen::failed;
  }
  return Seen::absent;
}

bool make_image_parents(int image, const char* path) {
  char folder[sizeof ImageEntry{}.path];
  std::snprintf(folder, sizeof folder, "%s", path);
  for (char* slash = std::strchr(folder, '/'); slash != nullptr; slash = std::strchr(slash + 1, '/')) {
    *slash = '\0';
    if (mkdirat(image, folder, 0700) != 0 && errno != EEXIST) return false;
    *slash = '/';
  }
  return true;
}

}  // namespace sav3
