// The before-image's places and its manifest (see before_image.h).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "sav3/device.h"
#include "sav3/look.h"

namespace sav3 {

// Where the image keeps what it saved of each place.
struct ImagePlace {
  const char* tag;   // the image folder ("sav")
  const char* tree;  // the device folder ("/usr/sav")
};
inline constexpr ImagePlace image_places[] = {
    {"mnt2", "/mnt/2"}, {"sav3", path::staging}, {"sav", path::live}, {"sav2", path::live2}};
const ImagePlace* image_place(const char* tag);

struct ImageEntry {
  char kind;  // d f l p s c b k
  char how;   // L linked, C copied, - neither
  unsigned mode;
  unsigned uid;
  unsigned gid;
  std::uint64_t size;
  std::uint32_t crc;
  std::uint64_t rdev;
  char path[4096 + 16];  // "sav/data/x", unescaped
};
char kind_of(mode_t mode);
mode_t type_of(char kind);

[[nodiscard]] bool write_image_entry(std::FILE* out, const ImageEntry& e);

// The new manifest of the image open at `image` (with `keep`, the lines of
// the one there first); commit flushes it, renames it into place and
// flushes the image and /usr/sav3, or (not `ok`) removes it.
[[nodiscard]] std::FILE* begin_image_manifest(int image, bool keep);
[[nodiscard]] bool commit_image_manifest(int image, std::FILE* file, bool ok);

struct ImageReader {
  std::FILE* file;
  char line[4 * sizeof ImageEntry{}.path + 128];
};
// absent: no complete image; failed: errno.
[[nodiscard]] Seen open_image_manifest(ImageReader& reader);
// 1 an entry, 0 the end, -1 a line that breaks the rules (a path outside
// its place, an unknown kind).
[[nodiscard]] int next_image_entry(ImageReader& reader, ImageEntry& e);
void close_image_manifest(ImageReader& reader);
// The manifest lists this path ("sav2/update"), with `kind` of that kind:
// present; absent: it does not; failed: the manifest could not be read
// whole (errno), which no caller may take for "not listed".
[[nodiscard]] Seen image_lists(const char* path, char kind = '\0');

// The image's folders on the way to `path` (a saved old program's).
[[nodiscard]] bool make_image_parents(int image, const char* path);

}  // namespace sav3
