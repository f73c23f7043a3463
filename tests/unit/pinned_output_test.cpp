// The migrated sample device, pinned byte for byte and field by field.
//
// The other tests read the new records back through the same layout tables
// that the converters write through, so a field moved in a table moves in both
// and they stay green. These tests do not use the tables: the digests pin every
// byte of every file, and the raw offsets below are written out by hand from
// the record descriptions, with the value each field takes from the legacy
// files by the record's own rule.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "sample_device.h"
#include "sav3/convert.h"
#include "sav3/crc32.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"
#include "sav3/migration.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

namespace fs = std::filesystem;

// The sample device of seed 1 migrated in UTC by the 16 conversions of a run,
// in run order. (UTC: its reports cross a daylight-saving change in Central
// Europe, where a rule about repeated wall-clock times may change bytes on
// purpose; those rules have tests of their own.)
class MigratedSample : public ScratchDevice {
 protected:
  void SetUp() override {
    ScratchDevice::SetUp();
    ASSERT_EQ(sample::write_sample_device(root_.c_str(), 1), 0);
    ZoneScope utc("UTC0");
    for (const NamedConversion& step : conversions()) ASSERT_EQ(step.convert(), 0);
  }
};

struct Digest {
  const char* path;
  std::uint32_t size;
  std::uint32_t crc;
};

// Every file the conversions write for the sample device: its size and CRC-32.
// To change them deliberately (a change of output bytes that is meant), run
//   build/host/bin/sav3_unit_tests --gtest_filter='MigratedSample.*'
// and, once every changed file is one the change should touch, paste the
// table that the failing test prints here.
constexpr Digest digests[] = {
    {"/usr/sav3/cfg/email", 486, 0x566d8fb7},          {"/usr/sav3/cfg/ieee802_1x", 1275, 0xe85333d9},
    {"/usr/sav3/cfg/port0", 455, 0x5650d263},          {"/usr/sav3/cfg/port1", 133, 0x27a4eb5d},
    {"/usr/sav3/cfg/port2", 133, 0x93cf0f2c},          {"/usr/sav3/cfg/port3", 519, 0xf39e1ae6},
    {"/usr/sav3/cfg/port4", 519, 0xecf6995f},          {"/usr/sav3/cfg/snmp", 5415, 0xfa24024c},
    {"/usr/sav3/cfg/ssl", 1475, 0x8bb305dc},           {"/usr/sav3/cfg/subport1", 57, 0x6eade72e},
    {"/usr/sav3/cfg/subport2", 57, 0x60c83584},        {"/usr/sav3/cfg/tcp_ip", 1096, 0x2674ae36},
    {"/usr/sav3/cfg/user_info", 2100, 0x5ffb71b5},     {"/usr/sav3/cfg/web", 271, 0xcc8b8e2b},
    {"/usr/sav3/data/alarm", 600, 0xca0a38f9},         {"/usr/sav3/data/device", 68, 0xc126875a},
    {"/usr/sav3/data/port0", 61, 0xd5866f80},          {"/usr/sav3/data/port1", 122, 0x82fa8b97},
    {"/usr/sav3/data/port2", 122, 0x43616da0},         {"/usr/sav3/data/port3", 518, 0xfa1f42e1},
    {"/usr/sav3/data/port4", 518, 0xd373ce57},         {"/usr/sav3/data/subport1", 120, 0xa1eba566},
    {"/usr/sav3/data/subport2", 120, 0x8495f77c},      {"/usr/sav3/history/alarm", 640030, 0x41df218b},
    {"/usr/sav3/history/port0", 64030, 0x53762e6a},    {"/usr/sav3/history/port1", 104030, 0xe117fb57},
    {"/usr/sav3/history/port2", 104030, 0xc8e48f3e},   {"/usr/sav3/history/port3", 267030, 0x4436ab06},
    {"/usr/sav3/history/port4", 267030, 0x56111b55},   {"/usr/sav3/history/subport1", 12030, 0xab987013},
    {"/usr/sav3/history/subport2", 12030, 0xab987013},
};

TEST_F(MigratedSample, EveryOutputFileKeepsItsDigest) {
  std::map<std::string, Digest> found;
  for (const auto& e : fs::recursive_directory_iterator(host("/usr/sav3"))) {
    if (!e.is_regular_file()) continue;
    const std::string device_path = e.path().string().substr(root_.size());
    const std::vector<std::uint8_t> bytes = file_bytes(device_path);
    found[device_path] = {nullptr, static_cast<std::uint32_t>(bytes.size()), crc32(bytes)};
  }
  bool all_hold = found.size() == std::size(digests);
  for (const Digest& d : digests) {
    const auto it = found.find(d.path);
    if (it == found.end()) {
      ADD_FAILURE() << d.path << ": not written";
      all_hold = false;
      continue;
    }
    const bool holds = it->second.size == d.size && it->second.crc == d.crc;
    EXPECT_TRUE(holds) << d.path << ": " << it->second.size << " bytes, CRC-32 " << std::hex << it->second.crc
                       << "; pinned " << std::dec << d.size << " bytes, CRC-32 " << std::hex << d.crc;
    all_hold = all_hold && holds;
  }
  for (const auto& [path, digest] : found) {
    const bool pinned =
        std::any_of(std::begin(digests), std::end(digests), [&](const Digest& d) { return path == d.path; });
    EXPECT_TRUE(pinned) << path << ": written, but not pinned";
  }
  if (!all_hold) {
    std::string table = "The files as written now:\n";
    char line[160];
    for (const auto& [path, digest] : found) {
      std::snprintf(line, sizeof line, "    {\"%s\", %" PRIu32 ", 0x%08" PRIx32 "},\n", path.c_str(),
                    digest.size, digest.crc);
      table += line;
    }
    ADD_FAILURE() << table;
  }
}

// How a pinned field's value follows from the legacy bytes at `from`.
enum class Rule : std::uint8_t {
  copy,           // the same bytes (the low byte of a legacy word is its first byte)
  constant,       // `factor` itself, little-endian
  scaled,         // float32 x factor, truncated, unsigned saturation, low bits
  scaled_signed,  // float32 x factor, truncated, signed saturation, low bits
  product,        // 32-bit word x factor, wrapping, low bits
  full_year,      // 32-bit word + 2010, high byte first
  hundredths,     // int32 / 100 as float32
  time,           // the legacy time text there, as seconds in UTC
  line,           // line `factor` of a text file without its newline, NUL-padded
};

struct Pin {
  const char* file;  // new file; `at` counts from the end of its 30-byte header
  std::uint32_t at;
  std::uint16_t width;
  const char* field;
  const char* legacy;  // legacy file; `from` counts from its first byte
  std::uint32_t from;
  Rule rule;
  std::uint32_t factor = 0;
};

// Offsets written out from the record tables, never taken from the layout
// headers. The sample: an LQ board on port 1 (supply module 1), a ZRT module
// on port 2 (supply module 2), K3 modules on ports 3 and 4 (K3 modules 1 and
// 2). History pins look at record 999 (999 x record size + offset).
constexpr char controller_item[] = "/mnt/1/cfg/MCUDataItemTmp_1.txt";
constexpr char controller_report[] = "/usr/sav/data/MCUDataItemReport1.txt";
constexpr char progcfg[] = "/mnt/1/cfg/progcfg";
constexpr char zrtprogcfg[] = "/mnt/1/cfg/zrtprogcfg";
constexpr char batterywarningcfg[] = "/mnt/1/cfg/batterywarningcfg";
constexpr char crw[] = "/mnt/1/cfg/CRWDataItemTmp";
constexpr char k3_extension[] = "/mnt/1/k3_extends_data";
constexpr char reportcfg[] = "/mnt/1/cfg/reportcfg";
constexpr char mcuassigncfg[] = "/mnt/1/cfg/mcuassigncfg";
constexpr char pwmcfg[] = "/mnt/1/cfg/pwmcfg";
constexpr char emailcfg[] = "/mnt/1/cfg/emailcfg";
constexpr std::uint32_t last = 999;

constexpr Pin pins[] = {
    // Device inventory.
    {"/usr/sav3/data/device", 1, 1, "port 1 type", nullptr, 0, Rule::constant, 2},
    {"/usr/sav3/data/device", 2, 1, "port 2 type", nullptr, 0, Rule::constant, 3},
    {"/usr/sav3/data/device", 4, 1, "port 4 type", nullptr, 0, Rule::constant, 4},
    {"/usr/sav3/data/device", 33, 1, "option flag", nullptr, 0, Rule::constant, 1},
    {"/usr/sav3/data/device", 36, 1, "K3 modules", nullptr, 0, Rule::constant, 2},
    // Controller configuration.
    {"/usr/sav3/cfg/port0", 36, 32, "name slot 1", mcuassigncfg, 660, Rule::copy},
    {"/usr/sav3/cfg/port0", 68, 32, "name slot 2", mcuassigncfg, 240, Rule::copy},
    {"/usr/sav3/cfg/port0", 356, 2, "range low", nullptr, 0, Rule::constant, 0xD8F0},
    {"/usr/sav3/cfg/port0", 360, 2, "limit 1", reportcfg, 136, Rule::scaled_signed, 100},
    {"/usr/sav3/cfg/port0", 362, 2, "limit 2", reportcfg, 132, Rule::scaled_signed, 100},
    {"/usr/sav3/cfg/port0", 388, 1, "PWM setting", pwmcfg, 24, Rule::copy},
    // Controller live record.
    {"/usr/sav3/data/port0", 1, 1, "tenths quantity", controller_item, 244, Rule::scaled, 10},
    {"/usr/sav3/data/port0", 3, 2, "reading A", controller_item, 48, Rule::scaled_signed, 100},
    {"/usr/sav3/data/port0", 5, 2, "reading D", controller_item, 60, Rule::scaled_signed, 100},
    {"/usr/sav3/data/port0", 11, 2, "reading B", controller_item, 52, Rule::scaled_signed, 100},
    {"/usr/sav3/data/port0", 19, 2, "PWM word 1", pwmcfg, 8, Rule::copy},
    {"/usr/sav3/data/port0", 27, 4, "reading time", controller_item, 0, Rule::time},
    // Controller history.
    {"/usr/sav3/history/port0", last * 64 + 3, 2, "reading A", controller_report, last * 248 + 48,
     Rule::scaled_signed, 100},
    {"/usr/sav3/history/port0", last * 64 + 13, 2, "reading C", controller_report, last * 248 + 56,
     Rule::scaled_signed, 100},
    {"/usr/sav3/history/port0", last * 64 + 27, 4, "record time", controller_report, last * 248, Rule::time},
    {"/usr/sav3/history/port0", last * 64 + 36, 2, "limit 1", reportcfg, 136, Rule::scaled_signed, 100},
    {"/usr/sav3/history/port0", last * 64 + 38, 2, "limit 2", reportcfg, 132, Rule::scaled_signed, 100},
    // Supply configuration of module 1 (LQ board), nearly every field: its
    // neighbours differ, so a swap of two of them shows.
    {"/usr/sav3/cfg/port1", 0, 4, "warning switch word", nullptr, 0, Rule::constant, 0x4000},
    {"/usr/sav3/cfg/port1", 4, 1, "setting 4", progcfg, 60, Rule::copy},
    {"/usr/sav3/cfg/port1", 5, 1, "setting 5", progcfg, 72, Rule::copy},
    {"/usr/sav3/cfg/port1", 6, 1, "setting 6", progcfg, 84, Rule::copy},
    {"/usr/sav3/cfg/port1", 7, 1, "setting 1", progcfg, 108, Rule::copy},
    {"/usr/sav3/cfg/port1", 8, 1, "setting 2", progcfg, 120, Rule::copy},
    {"/usr/sav3/cfg/port1", 9, 1, "setting 3", progcfg, 132, Rule::copy},
    {"/usr/sav3/cfg/port1", 10, 2, "configured date, year", progcfg, 196, Rule::full_year},
    {"/usr/sav3/cfg/port1", 12, 1, "configured date, second byte", progcfg, 172, Rule::copy},
    {"/usr/sav3/cfg/port1", 13, 1, "configured date, third byte", progcfg, 184, Rule::copy},
    {"/usr/sav3/cfg/port1", 14, 4, "warning duration", batterywarningcfg, 280, Rule::scaled, 3600},
    {"/usr/sav3/cfg/port1", 18, 4, "battery warning value", batterywarningcfg, 20, Rule::copy},
    {"/usr/sav3/cfg/port1", 22, 4, "year span", batterywarningcfg, 8, Rule::scaled, 31536000},
    {"/usr/sav3/cfg/port1", 26, 4, "setting 12", progcfg, 264, Rule::copy},
    {"/usr/sav3/cfg/port1", 30, 4, "day count", progcfg, 336, Rule::product, 86400},
    {"/usr/sav3/cfg/port1", 34, 1, "e-mail byte", emailcfg, 688, Rule::copy},
    {"/usr/sav3/cfg/port1", 39, 1, "setting 7", progcfg, 36, Rule::copy},
    // Supply configuration of module 2 (ZRT module): its slots.
    {"/usr/sav3/cfg/port2", 7, 1, "setting 1", zrtprogcfg, 108 + 4, Rule::copy},
    {"/usr/sav3/cfg/port2", 10, 2, "configured date, year", zrtprogcfg, 196 + 4, Rule::full_year},
    {"/usr/sav3/cfg/port2", 26, 4, "setting 12", zrtprogcfg, 264 + 16, Rule::copy},
    // LQ live record.
    {"/usr/sav3/data/port1", 0, 1, "module type", nullptr, 0, Rule::constant, 2},
    {"/usr/sav3/data/port1", 8, 2, "board reading B", "/mnt/1/cfg/LQDataItemTmp_1.txt", 92, Rule::scaled,
     100},
    {"/usr/sav3/data/port1", 10, 2, "board reading A", "/mnt/1/cfg/LQDataItemTmp_1.txt", 88, Rule::scaled,
     100},
    {"/usr/sav3/data/port1", 12, 2, "board reading C", "/mnt/1/cfg/LQDataItemTmp_1.txt", 96, Rule::scaled,
     100},
    {"/usr/sav3/data/port1", 14, 2, "controller reading", controller_item, 52, Rule::scaled, 100},
    {"/usr/sav3/data/port1", 22, 4, "first duration", "/mnt/1/cfg/LQDataItemTmp_1.txt", 100, Rule::product,
     3600},
    {"/usr/sav3/data/port1", 30, 4, "board value E", "/mnt/1/cfg/LQDataItemTmp_1.txt", 112, Rule::copy},
    {"/usr/sav3/data/port1", 34, 4, "board value D", "/mnt/1/cfg/LQDataItemTmp_1.txt", 108, Rule::copy},
    {"/usr/sav3/data/port1", 38, 1, "setting 1", progcfg, 108, Rule::copy},
    {"/usr/sav3/data/port1", 53, 2, "battery reading B", "/mnt/1/cfg/BatteryDataItemTmp_1", 12, Rule::scaled,
     100},
    {"/usr/sav3/data/port1", 55, 2, "battery warning value", batterywarningcfg, 20, Rule::scaled, 100},
    {"/usr/sav3/data/port1", 65, 4, "reading time", controller_item, 0, Rule::time},
    {"/usr/sav3/data/port1", 69, 4, "warning duration", batterywarningcfg, 280, Rule::scaled, 3600},
    // ZRT live record (supply module 2).
    {"/usr/sav3/data/port2", 0, 1, "module type", nullptr, 0, Rule::constant, 3},
    {"/usr/sav3/data/port2", 2, 1, "small count", "/mnt/1/cfg/ZrtDataItemTmp_2", 192, Rule::copy},
    {"/usr/sav3/data/port2", 6, 2, "module reading C", "/mnt/1/cfg/ZrtDataItemTmp_2", 64, Rule::scaled, 100},
    {"/usr/sav3/data/port2", 8, 2, "module reading B", "/mnt/1/cfg/ZrtDataItemTmp_2", 60, Rule::scaled, 100},
    {"/usr/sav3/data/port2", 10, 2, "module reading A", "/mnt/1/cfg/ZrtDataItemTmp_2", 52, Rule::scaled, 100},
    {"/usr/sav3/data/port2", 12, 2, "controller reading", controller_item, 56, Rule::scaled, 100},
    {"/usr/sav3/data/port2", 16, 2, "module reading D", "/mnt/1/cfg/ZrtDataItemTmp_2", 68, Rule::scaled, 100},
    {"/usr/sav3/data/port2", 26, 4, "second duration", "/mnt/1/cfg/ZrtDataItemTmp_2", 152 + 4, Rule::product,
     3600},
    {"/usr/sav3/data/port2", 30, 4, "module value F", "/mnt/1/cfg/ZrtDataItemTmp_2", 76, Rule::copy},
    {"/usr/sav3/data/port2", 34, 4, "module value E", "/mnt/1/cfg/ZrtDataItemTmp_2", 72, Rule::copy},
    // Supply live sub-records.
    {"/usr/sav3/data/subport1", 2, 2, "controller reading", controller_item, 52, Rule::scaled_signed, 100},
    {"/usr/sav3/data/subport1", 4, 2, "monitor reading 1", crw, 0, Rule::scaled, 100},
    {"/usr/sav3/data/subport1", 6, 2, "monitor reading 2", crw, 16, Rule::scaled, 100},
    {"/usr/sav3/data/subport1", 8, 2, "cell reading 0", crw, 288, Rule::scaled, 100},
    {"/usr/sav3/data/subport1", 10, 2, "cell reading 1", crw, 292, Rule::scaled, 100},
    {"/usr/sav3/data/subport1", 86, 4, "reading time", controller_item, 0, Rule::time},
    {"/usr/sav3/data/subport2", 4, 2, "monitor reading 1", crw, 4, Rule::scaled, 100},
    {"/usr/sav3/data/subport2", 8, 2, "cell reading 0", crw, 288 + 120, Rule::scaled, 100},
    // LQ history.
    {"/usr/sav3/history/port1", last * 104 + 8, 2, "board reading B", "/usr/sav/data/LQDataItemReport1.txt",
     last * 184 + 92, Rule::scaled, 100},
    {"/usr/sav3/history/port1", last * 104 + 10, 2, "board reading A", "/usr/sav/data/LQDataItemReport1.txt",
     last * 184 + 88, Rule::scaled, 100},
    {"/usr/sav3/history/port1", last * 104 + 14, 2, "battery reading A",
     "/usr/sav/data/BatteryDataItemReport1.txt", last * 40 + 0, Rule::scaled, 100},
    {"/usr/sav3/history/port1", last * 104 + 16, 2, "controller reading", controller_report, last * 248 + 52,
     Rule::scaled, 100},
    {"/usr/sav3/history/port1", last * 104 + 22, 4, "first duration", "/usr/sav/data/LQDataItemReport1.txt",
     last * 184 + 100, Rule::product, 3600},
    {"/usr/sav3/history/port1", last * 104 + 49, 4, "battery value D",
     "/usr/sav/data/BatteryDataItemReport1.txt", last * 40 + 28, Rule::copy},
    {"/usr/sav3/history/port1", last * 104 + 57, 4, "extra value 1", "/usr/sav/data/NLQDataItemReport1.txt",
     last * 12 + 0, Rule::copy},
    {"/usr/sav3/history/port1", last * 104 + 61, 4, "extra value 2", "/usr/sav/data/NLQDataItemReport1.txt",
     last * 12 + 4, Rule::copy},
    {"/usr/sav3/history/port1", last * 104 + 65, 4, "record time", controller_report, last * 248, Rule::time},
    {"/usr/sav3/history/port1", last * 104 + 69, 4, "extra duration", "/usr/sav/data/NLQDataItemReport1.txt",
     last * 12 + 8, Rule::scaled, 3600},
    {"/usr/sav3/history/port1", last * 104 + 96, 4, "span, years", "/usr/sav/data/BatteryDataItemReport1.txt",
     last * 40 + 24, Rule::scaled, 31536000},
    {"/usr/sav3/history/port1", last * 104 + 100, 4, "span, days", "/usr/sav/data/BatteryDataItemReport1.txt",
     last * 40 + 36, Rule::product, 86400},
    // ZRT history (supply module 2).
    {"/usr/sav3/history/port2", last * 104 + 6, 2, "module reading C", "/usr/sav/data/ZrtDataItemReport2.txt",
     last * 296 + 64, Rule::scaled, 100},
    {"/usr/sav3/history/port2", last * 104 + 8, 2, "module reading B", "/usr/sav/data/ZrtDataItemReport2.txt",
     last * 296 + 60, Rule::scaled, 100},
    {"/usr/sav3/history/port2", last * 104 + 12, 2, "battery reading A",
     "/usr/sav/data/ZrtBatteryDataItemReport2.txt", last * 40 + 0, Rule::scaled, 100},
    {"/usr/sav3/history/port2", last * 104 + 16, 2, "module reading D",
     "/usr/sav/data/ZrtDataItemReport2.txt", last * 296 + 68, Rule::scaled, 100},
    {"/usr/sav3/history/port2", last * 104 + 26, 4, "per-module duration",
     "/usr/sav/data/ZrtDataItemReport2.txt", last * 296 + 148 + 4 * 2, Rule::product, 3600},
    {"/usr/sav3/history/port2", last * 104 + 57, 4, "extra value 1", "/usr/sav/data/NZrtDataItemReport2.txt",
     last * 12 + 0, Rule::copy},
    {"/usr/sav3/history/port2", last * 104 + 96, 4, "span, years",
     "/usr/sav/data/ZrtBatteryDataItemReport2.txt", last * 40 + 24, Rule::scaled, 31536000},
    // K3 configuration of K3 modules 1 and 2.
    {"/usr/sav3/cfg/port3", 4, 32, "settings block of output 0", "/mnt/1/cfg/K3Enablecfg_1", 20, Rule::copy},
    {"/usr/sav3/cfg/port3", 36, 32, "settings block of output 1", "/mnt/1/cfg/K3Enablecfg_1", 80, Rule::copy},
    {"/usr/sav3/cfg/port3", 260, 1, "configuration group 1 of output 0", "/mnt/1/cfg/K3cfg_1", 0, Rule::copy},
    {"/usr/sav3/cfg/port3", 268, 1, "configuration group 2 of output 0", "/mnt/1/cfg/K3cfg_1", 32,
     Rule::copy},
    {"/usr/sav3/cfg/port3", 300, 2, "configuration value 1 of output 0", "/mnt/1/cfg/K3cfg_1", 160,
     Rule::scaled, 100},
    {"/usr/sav3/cfg/port3", 302, 2, "configuration value 1 of output 1", "/mnt/1/cfg/K3cfg_1", 164,
     Rule::scaled, 100},
    {"/usr/sav3/cfg/port3", 316, 2, "configuration value 2 of output 0", "/mnt/1/cfg/K3cfg_1", 192,
     Rule::scaled, 100},
    {"/usr/sav3/cfg/port3", 364, 4, "hundredths value 1", "/mnt/1/cfg/K3cfg_1", 356, Rule::hundredths},
    {"/usr/sav3/cfg/port3", 368, 4, "hundredths value 2", "/mnt/1/cfg/K3cfg_1", 352, Rule::hundredths},
    {"/usr/sav3/cfg/port3", 404, 4, "extension word 0", k3_extension, 0, Rule::copy},
    {"/usr/sav3/cfg/port3", 488, 1, "output settings trailer", "/mnt/1/cfg/K3Enablecfg_1", 508, Rule::copy},
    {"/usr/sav3/cfg/port4", 4, 32, "settings block of output 0", "/mnt/1/cfg/K3Enablecfg_2", 20, Rule::copy},
    {"/usr/sav3/cfg/port4", 404, 4, "extension word 0", k3_extension, 32, Rule::copy},
    // K3 live record.
    {"/usr/sav3/data/port3", 0, 1, "module type", nullptr, 0, Rule::constant, 4},
    {"/usr/sav3/data/port3", 34, 2, "reading A of output 0", "/mnt/1/cfg/K3DataItemTmp_1", 0, Rule::scaled,
     100},
    {"/usr/sav3/data/port3", 36, 2, "reading A of output 1", "/mnt/1/cfg/K3DataItemTmp_1", 4, Rule::scaled,
     100},
    {"/usr/sav3/data/port3", 50, 2, "reading B of output 0", "/mnt/1/cfg/K3DataItemTmp_1", 32, Rule::scaled,
     100},
    {"/usr/sav3/data/port3", 66, 2, "reading C of output 0", "/mnt/1/cfg/K3DataItemTmp_1", 64, Rule::scaled,
     100},
    {"/usr/sav3/data/port3", 82, 32, "settings block of output 0", "/mnt/1/cfg/K3Enablecfg_1", 20,
     Rule::copy},
    {"/usr/sav3/data/port3", 339, 1, "small setting 0", "/mnt/1/cfg/K3cfg_1", 0, Rule::copy},
    {"/usr/sav3/data/port3", 340, 1, "small setting 1", "/mnt/1/cfg/K3cfg_1", 4, Rule::copy},
    {"/usr/sav3/data/port3", 379, 2, "setting A of output 0", "/mnt/1/cfg/K3cfg_1", 160, Rule::scaled, 100},
    {"/usr/sav3/data/port3", 451, 4, "extension value 2 of output 0", k3_extension, 96, Rule::copy},
    {"/usr/sav3/data/port3", 484, 4, "reading time", controller_item, 0, Rule::time},
    // K3 history of K3 module 2.
    {"/usr/sav3/history/port4", last * 267 + 34, 2, "reading A of output 0",
     "/usr/sav/data/K3DataItemReport2.txt", last * 492 + 0, Rule::scaled, 100},
    {"/usr/sav3/history/port4", last * 267 + 50, 2, "reading B of output 0",
     "/usr/sav/data/K3DataItemReport2.txt", last * 492 + 32, Rule::scaled, 100},
    {"/usr/sav3/history/port4", last * 267 + 82, 4, "extension value 2 of output 0", k3_extension, 96 + 32,
     Rule::copy},
    {"/usr/sav3/history/port4", last * 267 + 114, 1, "small setting 0", "/mnt/1/cfg/K3cfg_2", 0, Rule::copy},
    {"/usr/sav3/history/port4", last * 267 + 154, 2, "setting A of output 0", "/mnt/1/cfg/K3cfg_2", 160,
     Rule::scaled, 100},
    {"/usr/sav3/history/port4", last * 267 + 226, 4, "extension value 1 of output 0", k3_extension, 32,
     Rule::copy},
    {"/usr/sav3/history/port4", last * 267 + 259, 4, "record time", controller_report, last * 248,
     Rule::time},
    // Alarm state and alarm history (the version text without its first five characters).
    {"/usr/sav3/data/alarm", 566, 4, "state time", controller_item, 0, Rule::time},
    {"/usr/sav3/history/alarm", last * 640 + 0, 38, "device inventory", "/usr/sav3/data/device", 30,
     Rule::copy},
    {"/usr/sav3/history/alarm", last * 640 + 38 + 566, 4, "state time", controller_report, last * 248,
     Rule::time},
    {"/usr/sav3/history/alarm", last * 640 + 608, 23, "system version", "/mnt/2/tools/sysver", 5, Rule::copy},
    // Settings.
    {"/usr/sav3/cfg/email", 0, 60, "short text slot 1", emailcfg, 480, Rule::copy},
    {"/usr/sav3/cfg/email", 64, 60, "short text slot 2", emailcfg, 540, Rule::copy},
    {"/usr/sav3/cfg/email", 192, 1, "option byte B", emailcfg, 716, Rule::copy},
    {"/usr/sav3/cfg/email", 195, 1, "option byte A", emailcfg, 700, Rule::copy},
    {"/usr/sav3/cfg/email", 200, 64, "long text slot 1", emailcfg, 0, Rule::copy},
    {"/usr/sav3/cfg/email", 264, 64, "long text slot 2", emailcfg, 120, Rule::copy},
    {"/usr/sav3/cfg/snmp", 32, 32, "snmpcfgse block", "/mnt/1/cfg/snmpcfgse", 0, Rule::copy},
    {"/usr/sav3/cfg/snmp", 121, 1, "trap version", "/mnt/1/cfg/trapvercfg", 0, Rule::copy},
    {"/usr/sav3/cfg/ssl", 0, 32, "certificate text 1", "/mnt/1/cfg/certificate", 0, Rule::copy},
    {"/usr/sav3/cfg/ssl", 32, 100, "certificate text 2", "/mnt/1/cfg/certificate", 100, Rule::copy},
    {"/usr/sav3/cfg/ssl", 160, 1, "certificate option 1", "/mnt/1/cfg/certificate", 200, Rule::copy},
    {"/usr/sav3/cfg/ssl", 163, 128, "certificate block 1", "/mnt/1/cfg/certificate", 212, Rule::copy},
    {"/usr/sav3/cfg/ssl", 1443, 1, "certificate option 4", "/mnt/1/cfg/certificate", 1492, Rule::copy},
    {"/usr/sav3/cfg/tcp_ip", 0, 60, "ipcfg line 7", "/mnt/1/cfg/ipcfg", 0, Rule::line, 7},
    {"/usr/sav3/cfg/tcp_ip", 64, 16, "ipcfg line 1", "/mnt/1/cfg/ipcfg", 0, Rule::line, 1},
    {"/usr/sav3/cfg/tcp_ip", 80, 16, "ipcfg line 2", "/mnt/1/cfg/ipcfg", 0, Rule::line, 2},
    {"/usr/sav3/cfg/tcp_ip", 144, 60, "ipcfg line 13", "/mnt/1/cfg/ipcfg", 0, Rule::line, 13},
    {"/usr/sav3/cfg/tcp_ip", 468, 30, "ipcfg line 6", "/mnt/1/cfg/ipcfg", 0, Rule::line, 6},
    {"/usr/sav3/cfg/user_info", 2069, 1, "password level", "/mnt/1/cfg/pwdlevelcfg", 0, Rule::copy},
    {"/usr/sav3/cfg/web", 4, 64, "assignment block", mcuassigncfg, 724, Rule::copy},
    {"/usr/sav3/cfg/web", 68, 60, "first assignment text", mcuassigncfg, 0, Rule::copy},
    {"/usr/sav3/cfg/web", 132, 50, "battery warning block", batterywarningcfg, 88, Rule::copy},
    {"/usr/sav3/cfg/web", 196, 4, "duration", mcuassigncfg, 720, Rule::scaled_signed, 3600},
    {"/usr/sav3/cfg/web", 200, 4, "lock word", "/mnt/1/cfg/lockcfg", 104, Rule::copy},
    {"/usr/sav3/cfg/web", 204, 4, "PWM word", pwmcfg, 16, Rule::copy},
    {"/usr/sav3/cfg/web", 212, 4, "battery warning word", batterywarningcfg, 4, Rule::copy},
    {"/usr/sav3/cfg/web", 228, 4, "report word", reportcfg, 124, Rule::copy},
    {"/usr/sav3/cfg/ieee802_1x", 0, 64, "text 1", "/mnt/1/cfg/wpacfg", 0, Rule::copy},
    {"/usr/sav3/cfg/ieee802_1x", 64, 1, "option 1", "/mnt/1/cfg/wpacfg", 64, Rule::copy},
    {"/usr/sav3/cfg/ieee802_1x", 1225, 12, "word group", "/mnt/1/cfg/wpacfg", 1228, Rule::copy},
    {"/usr/sav3/cfg/ieee802_1x", 1240, 4, "word", "/mnt/1/cfg/wpacfg", 1244, Rule::copy},
    {"/usr/sav3/cfg/ieee802_1x", 1244, 1, "option 7", "/mnt/1/cfg/wpacfg", 1248, Rule::copy},
};

// The bytes a pinned field must hold, from the legacy bytes by its rule.
std::vector<std::uint8_t> expected_bytes(const Pin& pin, const std::vector<std::uint8_t>& legacy) {
  std::vector<std::uint8_t> out(pin.width, 0);
  auto store = [&out](std::uint32_t v) {
    for (std::size_t i = 0; i < out.size() && i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  switch (pin.rule) {
    case Rule::copy: copy_bytes(out, 0, legacy, pin.from, pin.width); break;
    case Rule::constant: store(pin.factor); break;
    case Rule::scaled:
      store(scaled_unsigned(read_f32le(legacy, pin.from), static_cast<float>(pin.factor)));
      break;
    case Rule::scaled_signed:
      store(static_cast<std::uint32_t>(
          scaled_signed(read_f32le(legacy, pin.from), static_cast<float>(pin.factor))));
      break;
    case Rule::product: store(read32le(legacy, pin.from) * pin.factor); break;
    case Rule::full_year: {
      const std::uint32_t year = read32le(legacy, pin.from) + 2010;
      out = {static_cast<std::uint8_t>(year >> 8), static_cast<std::uint8_t>(year)};
      break;
    }
    case Rule::hundredths:
      store(std::bit_cast<std::uint32_t>(static_cast<float>(read32le_signed(legacy, pin.from) / 100.0)));
      break;
    case Rule::time: {
      const std::string text(text_at(slice(ConstBytes(legacy), pin.from, 248), 0));
      std::tm t{};
      if (strptime(text.c_str(), "%a %b %d %Y %X", &t) != nullptr)
        store(static_cast<std::uint32_t>(timegm(&t)));
      break;
    }
    case Rule::line: {
      const std::string all(legacy.begin(), legacy.end());
      std::size_t begin = 0;
      for (std::uint32_t n = 1; n < pin.factor && begin != std::string::npos; ++n) {
        begin = all.find('\n', begin);
        if (begin != std::string::npos) ++begin;
      }
      if (begin == std::string::npos) break;
      const std::string line = all.substr(begin, all.find('\n', begin) - begin);
      for (std::size_t i = 0; i < out.size() && i < line.size() && line[i] != 0; ++i)
        out[i] = static_cast<std::uint8_t>(line[i]);
      break;
    }
  }
  return out;
}

TEST_F(MigratedSample, FieldsStandAtTheirRecordOffsets) {
  constexpr std::size_t header_bytes = 30;
  for (const Pin& pin : pins) {
    const std::vector<std::uint8_t> written = file_bytes(pin.file);
    const std::vector<std::uint8_t> legacy =
        pin.legacy != nullptr ? file_bytes(pin.legacy) : std::vector<std::uint8_t>{};
    const std::vector<std::uint8_t> expected = expected_bytes(pin, legacy);
    const ConstBytes field = slice(ConstBytes(written), header_bytes + pin.at, pin.width);
    ASSERT_EQ(field.size(), pin.width) << pin.file << " ends before " << pin.field;
    // A field that the sample leaves zero could not tell a moved field from a
    // missing one.
    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](std::uint8_t b) { return b != 0; }))
        << pin.file << ", " << pin.field << ": the sample gives it no value to pin";
    EXPECT_TRUE(std::equal(field.begin(), field.end(), expected.begin()))
        << pin.file << ", " << pin.field << " at " << pin.at << " (" << pin.width << " bytes)";
  }
}

}  // namespace
}  // namespace sav3::testing
