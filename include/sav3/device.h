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
// The legacy configuration and the files the opening commands copy from it
// and from the old live tree.
inline constexpr char legacy_cfg[] = "/mnt/1/cfg";
inline constexpr char legacy_etc[] = "/mnt/1/etc";
inline constexpr char update_log[] = "/usr/sav/update_log";
inline constexpr char user_logins[] = "/usr/sav/data/userlogindata.txt";
// The old programs' partition and the marker's folder: no tree may be or
// hold them.
inline constexpr char old_programs_partition[] = "/mnt/2";
inline constexpr char marker_folder[] = "/mnt/data";
}  // namespace path

// The four folders the opening commands make in the staging tree.
inline constexpr const char* staging_folders[] = {path::staging_data, path::staging_cfg, path::staging_etc,
                                                  path::staging_history};

// What the opening commands copy into the staging tree, in the order they
// copy it: the entries of a folder ("cp FROM/* INTO/": names not starting
// with "." that lead to a regular file; cp skips folders and dangling links)
// or one file ("cp FROM INTO/", when it leads to a regular file). The copy
// of a file keeps its name in INTO.
struct CopySource {
  const char* from;
  const char* into;  // a staging folder, or the staging tree itself
  bool folder_entries;
};
inline constexpr CopySource copy_sources[] = {
    {path::legacy_cfg, path::staging_cfg, true},
    {path::legacy_etc, path::staging_etc, true},
    {path::update_log, path::staging, false},
    {path::user_logins, path::staging_data, false},
};

// The old programs that the opening commands delete, then kill by name, in
// that order: the new firmware brings its own.
inline constexpr const char* old_programs[] = {
    "/mnt/2/snmp/sbin/snmpd",
    "/mnt/2/snmp/sbin/vq4-demon",
    "/mnt/2/snmp/sbin/snmp-system",
    "/mnt/2/tools/tcpclientremote",
    "/mnt/2/tools/spi",
    "/mnt/2/tools/lanudpclient",
    "/mnt/2/tools/lantcpclient",
    "/mnt/2/tools/tcpclient_psia",
};

// The last name of a device path ("update_log" of "/usr/sav/update_log").
constexpr const char* last_name(const char* device_path) {
  const char* name = device_path;
  for (const char* p = device_path; *p != '\0'; ++p)
    if (*p == '/') name = p + 1;
  return name;
}

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
