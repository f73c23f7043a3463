#include "sav3/device.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace sav3 {

namespace {
char g_root[400];

// A path that does not fit its buffer would name another file: the paths are
// the tool's own constants, so this is a fault of the build, never of a device.
void must_fit(int written, std::size_t capacity) {
  if (written < 0 || static_cast<std::size_t>(written) >= capacity) std::abort();
}
}  // namespace

PathName numbered_path(const char* format, unsigned number) {
  PathName p;
  must_fit(std::snprintf(p.text, sizeof p.text, format, number), sizeof p.text);
  return p;
}

void set_device_root(const char* root) { std::snprintf(g_root, sizeof g_root, "%s", root ? root : ""); }

const char* module_name(std::uint8_t code) {
  switch (code) {
    case module_code::none: return "empty";
    case module_code::lq: return "LQ";
    case module_code::zrt: return "ZRT";
    case module_code::k3: return "K3";
    case module_code::fifth: return "fifth kind";
    default: return "unknown";
  }
}

const char* device_root() { return g_root; }

HostPath host_path(const char* device_path) {
  HostPath p;
  must_fit(std::snprintf(p.text, sizeof p.text, "%s%s", g_root, device_path), sizeof p.text);
  return p;
}

std::FILE* open_device_file(const char* device_path, const char* mode) {
  if (g_root[0] == '\0') return std::fopen(device_path, mode);
  return std::fopen(host_path(device_path), mode);
}

bool device_file_exists(const char* device_path) {
  if (g_root[0] == '\0') return access(device_path, F_OK) == 0;
  return access(host_path(device_path), F_OK) == 0;
}

bool change_device_directory(const char* device_path) {
  if (g_root[0] == '\0') return chdir(device_path) == 0;
  return chdir(host_path(device_path)) == 0;
}

}  // namespace sav3
