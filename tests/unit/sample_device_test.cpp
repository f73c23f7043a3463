#include "sample_device.h"

#include <filesystem>
#include <map>

#include "sav3/controller_record.h"
#include "sav3/inventory.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

namespace fs = std::filesystem;

// Every regular file of a tree by its path inside the tree, with its bytes.
std::map<std::string, std::vector<std::uint8_t>> tree_files(const std::string& root) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[e.path().string().substr(root.size())] =
        std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

using SampleDevice = ScratchDevice;

TEST_F(SampleDevice, SameSeedSameBytesOtherSeedOtherBytes) {
  ASSERT_EQ(sample::write_sample_device((root_ + "/a").c_str(), 7), 0);
  ASSERT_EQ(sample::write_sample_device((root_ + "/b").c_str(), 7), 0);
  ASSERT_EQ(sample::write_sample_device((root_ + "/c").c_str(), 8), 0);
  auto a = tree_files(root_ + "/a");
  auto b = tree_files(root_ + "/b");
  auto c = tree_files(root_ + "/c");
  EXPECT_GT(a.size(), 60u);
  EXPECT_EQ(a, b);
  ASSERT_EQ(a.size(), c.size());
  EXPECT_NE(a.at(controller_record::report_path), c.at(controller_record::report_path));
}

TEST_F(SampleDevice, ReportsAreFullAndHourly) {
  ASSERT_EQ(sample::write_sample_device(root_.c_str(), 3), 0);
  // Full reports of the sizes the migration reads.
  const std::pair<const char*, std::size_t> reports[] = {{controller_record::report_path, 248},
                                                         {"/usr/sav/data/LQDataItemReport1.txt", 184},
                                                         {"/usr/sav/data/NLQDataItemReport1.txt", 12},
                                                         {"/usr/sav/data/BatteryDataItemReport1.txt", 40},
                                                         {"/usr/sav/data/ZrtDataItemReport2.txt", 296},
                                                         {"/usr/sav/data/NZrtDataItemReport2.txt", 12},
                                                         {"/usr/sav/data/ZrtBatteryDataItemReport2.txt", 40},
                                                         {"/usr/sav/data/K3DataItemReport1.txt", 492},
                                                         {"/usr/sav/data/K3DataItemReport2.txt", 492}};
  for (const auto& [path, size] : reports) EXPECT_EQ(file_bytes(path).size(), size * history_records) << path;

  // Consecutive records are one hour apart and their texts are legacy timestamps.
  ZoneScope utc("UTC0");
  auto rep = file_bytes(controller_record::report_path);
  std::int32_t previous = 0;
  for (int i = 0; i < history_records; ++i) {
    ConstBytes rec = slice(ConstBytes(rep), std::size_t(i) * 248, 248);
    std::int32_t t = legacy_time_seconds(text_at(rec, controller_record::time_text));
    ASSERT_NE(t, 0) << "record " << i << ": " << text_at(rec, 0);
    if (i > 0) {
      ASSERT_EQ(t - previous, 3600) << "record " << i;
    }
    previous = t;
  }
  // Readings vary from hour to hour and stay plausible (the supply voltage).
  float lo = 1e9f, hi = -1e9f;
  for (int i = 0; i < history_records; ++i) {
    float v = read_f32le(rep, std::size_t(i) * 248 + 48);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_GT(lo, 52.0f);
  EXPECT_LT(hi, 54.0f);
  EXPECT_GT(hi - lo, 0.2f);
}

TEST_F(SampleDevice, PortsHoldAllFourModuleKinds) {
  ASSERT_EQ(sample::write_sample_device(root_.c_str(), 1), 0);
  ASSERT_EQ(build_device_inventory(), result::ok);
  auto rec = headed_payload(path::inventory, 38, 1);
  EXPECT_EQ(rec[1], module_code::lq);
  EXPECT_EQ(rec[2], module_code::zrt);
  EXPECT_EQ(rec[3], module_code::k3);
  EXPECT_EQ(rec[4], module_code::k3);
  EXPECT_EQ(get(rec, inventory::option_flag), 1u);
  EXPECT_TRUE(exists("/mnt/2/tools/sysver"));
  EXPECT_TRUE(exists("/usr/sav2/update/status"));
  EXPECT_TRUE(exists("/mnt/2/snmp/sbin/snmpd"));
  EXPECT_FALSE(exists(path::marker));
}

}  // namespace
}  // namespace sav3::testing
