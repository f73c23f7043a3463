// Where the tool finds things on the device.
//
// Every path in the code is the device's own absolute path. The file access
// functions below (and the container) put the device root in front of it: the
// root is empty in the tool, so the paths are exactly the device's, and only
// tests and tools point it at a scratch tree. Shell commands are never
// rewritten; they go through the command runner of the driver instead.
#pragma once

#include <cstdint>
#include <cstdio>

namespace sav3 {

// Module type codes of the device inventory.
namespace module_code {
inline constexpr std::uint8_t none = 0;
inline constexpr std::uint8_t controller = 1;
inline constexpr std::uint8_t lq = 2;
inline constexpr std::uint8_t zrt = 3;
inline constexpr std::uint8_t k3 = 4;
inline constexpr std::uint8_t fifth = 5;
}  // namespace module_code
// A module code as people name it: "empty", "LQ", "ZRT", "K3", "fifth kind",
// "unknown".
const char* module_name(std::uint8_t code);

inline constexpr int port_count = 4;  // module ports 1..4; port 0 is the controller

namespace path {
inline constexpr char marker[] = "/mnt/data/port0";
inline constexpr char staging[] = "/usr/sav3";
inline constexpr char staging_data[] = "/usr/sav3/data";
inline constexpr char staging_cfg[] = "/usr/sav3/cfg";
inline constexpr char staging_etc[] = "/usr/sav3/etc";
inline constexpr char staging_history[] = "/usr/sav3/history";
inline constexpr char live[] = "/usr/sav";
inline constexpr char live2[] = "/usr/sav2";
inline constexpr char inventory[] = "/usr/sav3/data/device";
inline constexpr char device_display[] = "/mnt/1/cfg/devicedisplay";
}  // namespace path

// A device path with a number filled in ("/usr/sav3/cfg/port%d").
struct PathName {
  char text[96];
  operator const char*() const { return text; }
};
PathName numbered_path(const char* format, unsigned number);

// Tests and tools only: the folder that stands for "/" (nullptr or "" for none).
void set_device_root(const char* root);
const char* device_root();

// The host path of a device path: the device root in front of it.
struct HostPath {
  char text[512];
  operator const char*() const { return text; }
};
HostPath host_path(const char* device_path);

// fopen, access and chdir on device paths.
std::FILE* open_device_file(const char* device_path, const char* mode);
bool device_file_exists(const char* device_path);
bool change_device_directory(const char* device_path);

}  // namespace sav3
