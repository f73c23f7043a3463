// Shared plumbing of the fuzz harnesses: one fuzz input is split into the
// contents of the legacy files a converter reads, laid out in a scratch device
// root; after the conversion every file the converter must write is checked
// for its length and both checksums.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "sav3/bytes.h"
#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/output_files.h"

namespace sav3::fuzz {

// A legacy input (nullptr ends a list). "%d" in the path stands for the
// module sequence number of a module converter.
struct Input {
  const char* path;
};

inline int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

// The scratch device root, made once per process under /dev/shm (or /tmp) and
// removed when the process exits normally.
inline const char* scratch_root() {
  static char root[128] = {};
  if (root[0] == '\0') {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(root, sizeof root, "%s/sav3-fuzz-%d", base, static_cast<int>(getpid()));
    set_device_root(root);
    std::atexit([] { nftw(root, remove_entry, 16, FTW_DEPTH | FTW_PHYS); });
  }
  return root;
}

// mkdir -p of the folders of a device path, under the scratch root.
inline void make_parents(const char* device_path) {
  char p[512];
  std::snprintf(p, sizeof p, "%s%s", scratch_root(), device_path);
  for (char* s = p + 1; *s != '\0'; ++s) {
    if (*s != '/') continue;
    *s = '\0';
    mkdir(p, 0755);
    *s = '/';
  }
}

inline void remove_device_file(const char* device_path) { unlink(host_path(device_path)); }

// Removes every file directly inside a device folder (made if missing).
inline void clear_device_folder(const char* device_path) {
  char probe[512];
  std::snprintf(probe, sizeof probe, "%s/x", device_path);
  make_parents(probe);
  DIR* dir = opendir(host_path(device_path));
  if (dir == nullptr) std::abort();
  while (const dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    char file[512];
    std::snprintf(file, sizeof file, "%s/%s", device_path, e->d_name);
    remove_device_file(file);
  }
  closedir(dir);
}

// Takes the next piece of the fuzz input: a 16-bit little-endian length, then
// that many bytes (clipped to what is left). 0xFFFF leaves the file missing.
struct Splitter {
  std::span<const std::uint8_t> rest;

  std::uint8_t byte() {
    if (rest.empty()) return 0;
    const std::uint8_t b = rest[0];
    rest = rest.subspan(1);
    return b;
  }

  void place(const char* device_path) {
    make_parents(device_path);
    remove_device_file(device_path);
    if (rest.size() < 2) return;
    std::size_t n = static_cast<std::size_t>(rest[0] | (rest[1] << 8));
    rest = rest.subspan(2);
    if (n == 0xFFFF) return;
    if (n > rest.size()) n = rest.size();
    std::FILE* f = std::fopen(host_path(device_path), "w");
    if (f == nullptr) std::abort();
    if (n != 0 && std::fwrite(rest.data(), 1, n, f) != n) std::abort();
    std::fclose(f);
    rest = rest.subspan(n);
  }

  void place_all(const Input* inputs, unsigned sequence) {
    for (const Input* in = inputs; in->path != nullptr; ++in) place(numbered_path(in->path, sequence));
  }
};

// The output exists with 30 + size x count bytes and both checksums hold;
// anything else stops the fuzzer with the path named.
// An output file as the table says: present, its header whole, both
// checksums right, and the table's record size and count.
inline void check_output(const OutputFile& file, unsigned port) {
  const PathName path = output_path(file, port);
  std::FILE* f = std::fopen(host_path(path), "r");
  if (f == nullptr) {
    std::fprintf(stderr, "missing output %s\n", path.text);
    std::abort();
  }
  static std::uint8_t data[header::size + 1000 * 640 + 1];
  const std::size_t got = std::fread(data, 1, sizeof data, f);
  std::fclose(f);
  const HeaderCheck check = check_header(ConstBytes(data, got));
  if (check.problems != 0 || check.size != file.size || check.count != file.count) {
    std::fprintf(stderr, "%s: header problems 0x%x, %u x %u records, expected %u x %u\n", path.text,
                 check.problems, check.size, check.count, file.size, file.count);
    std::abort();
  }
}

}  // namespace sav3::fuzz
