#include "sav3/k3.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using K3Config = ScratchDevice;
namespace cfg = k3_config;

// An extension record whose every byte tells where it came from.
LegacyRecord numbered_extension() {
  LegacyRecord ext(legacy_k3_extension::record_size);
  for (std::size_t b = 0; b < ext.bytes.size(); ++b) ext.u8(b, static_cast<std::uint8_t>(b));
  return ext;
}

std::uint32_t extension_word(std::size_t at) {
  return static_cast<std::uint32_t>(at) | static_cast<std::uint32_t>(at + 1) << 8 |
         static_cast<std::uint32_t>(at + 2) << 16 | static_cast<std::uint32_t>(at + 3) << 24;
}

std::size_t settings_block(unsigned i) {
  return legacy_k3_settings::block + legacy_k3_settings::block_stride * i;
}

TEST_F(K3Config, NoLegacyFilesGiveAnAllZeroRecord) {
  ASSERT_EQ(convert_k3_config(2, 1), result::ok);
  EXPECT_EQ(headed_payload("/usr/sav3/cfg/port2", cfg::record_size, 1),
            std::vector<std::uint8_t>(cfg::record_size, 0));
}

TEST_F(K3Config, SecondModuleOnPortFour) {
  LegacyRecord settings(legacy_k3_settings::record_size);
  settings
      .u32(legacy_k3_settings::enable_mask, 0x105)  // bit 8 belongs to no output
      .u32(legacy_k3_settings::trailer_word, 0x12345678);
  for (unsigned i = 0; i < 8; ++i)
    for (std::size_t b = 0; b < legacy_k3_settings::block_stride; ++b)
      settings.u8(settings_block(i) + b, static_cast<std::uint8_t>(0x10 * i + b));
  put_file("/mnt/1/cfg/K3Enablecfg_2", settings.bytes);

  using namespace legacy_k3_config;
  LegacyRecord config(record_size);
  config
      .u32(small_settings + 4 * 0, 300)                            // group 1, output 0
      .u32(small_settings + group_stride * 1 + 4 * 7, 0xFFFFFFFF)  // group 2, output 7
      .u32(configured_group + 4 * 3, 0x1FF)                        // group 5, output 3
      .f32(setting_a + 4 * 0, -1.5f)
      .f32(setting_a + 4 * 1, 12.34f)
      .f32(setting_b + 4 * 2, 655.35f)
      .f32(setting_c + 4 * 5, 655.36f)
      .f32(setting_d + 4 * 7, 1e10f)  // saturates to 0xFFFFFFFF, low 16 bits kept
      .u32(hundredths_352, 250)
      .u32(hundredths_356, static_cast<std::uint32_t>(-5))
      .u32(hundredths_424, 16777217)  // exact in double, not in float
      .u32(hundredths_428, 100000);
  put_file("/mnt/1/cfg/K3cfg_2", config.bytes);
  // The first module's files must not be taken for the second's.
  put_file("/mnt/1/cfg/K3Enablecfg_1", LegacyRecord(legacy_k3_settings::record_size).u32(0, 0xFF).bytes);
  put_file("/mnt/1/cfg/K3cfg_1", LegacyRecord(record_size).u32(0, 7).bytes);
  put_file(legacy_k3_extension::path, numbered_extension().bytes);

  ASSERT_EQ(convert_k3_config(4, 2), result::ok);
  EXPECT_FALSE(exists("/usr/sav3/cfg/port2"));
  auto rec = headed_payload("/usr/sav3/cfg/port4", cfg::record_size, 1);
  ASSERT_EQ(rec.size(), std::size_t{cfg::record_size});

  const std::uint8_t enabled[8] = {1, 0, 1, 0, 0, 0, 0, 0};
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(get(rec, cfg::enabled[i]), enabled[i]) << "output " << i;
  // Only the first 32 bytes of each 60-byte block are kept.
  for (unsigned i = 0; i < 8; ++i) {
    const std::vector<std::uint8_t> block(rec.begin() + cfg::settings_block[i].offset,
                                          rec.begin() + cfg::settings_block[i].offset + 32);
    const auto from = settings.bytes.begin() + static_cast<std::ptrdiff_t>(settings_block(i));
    EXPECT_EQ(block, std::vector<std::uint8_t>(from, from + 32)) << "output " << i;
  }
  EXPECT_EQ(get(rec, cfg::trailer), 0x78u);

  EXPECT_EQ(get(rec, cfg::group_1[0]), 44u);
  EXPECT_EQ(get(rec, cfg::group_1[1]), 0u);
  EXPECT_EQ(get(rec, cfg::group_2[7]), 0xFFu);
  EXPECT_EQ(get(rec, cfg::group_5[3]), 0xFFu);
  EXPECT_EQ(get(rec, cfg::group_4[3]), 0u);
  EXPECT_EQ(get(rec, k3_settings::setting(cfg::values, 0, 0)), 0u) << "-1.5 x 100 is negative";
  EXPECT_EQ(get(rec, k3_settings::setting(cfg::values, 0, 1)), 1234u);
  EXPECT_EQ(get(rec, k3_settings::setting(cfg::values, 1, 2)), 65534u)
      << "655.35f x 100 lies just below 65535";
  EXPECT_EQ(get(rec, k3_settings::setting(cfg::values, 2, 5)), 0u) << "65536 keeps its low 16 bits";
  EXPECT_EQ(get(rec, k3_settings::setting(cfg::values, 3, 7)), 0xFFFFu);

  // Crossed pairs: 356 before 352, 428 before 424.
  EXPECT_EQ(get_f32(rec, cfg::hundredths_1), -0.05f);
  EXPECT_EQ(get_f32(rec, cfg::hundredths_2), 2.5f);
  EXPECT_EQ(get_f32(rec, cfg::hundredths_3), 1000.0f);
  EXPECT_EQ(get_f32(rec, cfg::hundredths_4), 167772.171875f) << "divided in double, rounded once";

  // The second module's words of the first table, whatever its port.
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(get(rec, cfg::extension[i]), extension_word(32 + 4 * i));

  for (const Field& f : cfg::fields) {
    if (f.kind != Kind::reserved) continue;
    for (unsigned b = 0; b < f.width; ++b) EXPECT_EQ(rec[f.offset + b], 0) << f.name << " at " << f.offset;
  }
}

TEST_F(K3Config, FourthModuleGetsAnAllZeroRecord) {
  for (int n = 1; n <= 4; ++n) {
    put_file(numbered_path(legacy_k3_settings::path_format, n).text,
             LegacyRecord(legacy_k3_settings::record_size).u32(0, 0xFF).u32(508, 9).bytes);
    put_file(numbered_path(legacy_k3_config::path_format, n).text,
             LegacyRecord(legacy_k3_config::record_size).u32(0, 1).u32(356, 100).bytes);
  }
  put_file(legacy_k3_extension::path, numbered_extension().bytes);
  ASSERT_EQ(convert_k3_config(3, 4), result::ok);
  EXPECT_EQ(headed_payload("/usr/sav3/cfg/port3", cfg::record_size, 1),
            std::vector<std::uint8_t>(cfg::record_size, 0));
}

TEST_F(K3Config, ShortConfigurationLeavesTheRestZero) {
  // A record cut after the first group: groups 2 to 5 and the values read as zeros.
  LegacyRecord config(legacy_k3_config::group_stride);
  for (unsigned i = 0; i < 8; ++i) config.u32(4 * i, 0x100 + i);
  put_file("/mnt/1/cfg/K3cfg_3", config.bytes);
  ASSERT_EQ(convert_k3_config(1, 3), result::ok);
  auto rec = headed_payload("/usr/sav3/cfg/port1", cfg::record_size, 1);
  ASSERT_EQ(rec.size(), std::size_t{cfg::record_size});
  for (unsigned i = 0; i < 8; ++i) {
    EXPECT_EQ(get(rec, cfg::group_1[i]), i);
    EXPECT_EQ(get(rec, cfg::group_2[i]), 0u);
  }
  EXPECT_EQ(get_f32(rec, cfg::hundredths_1), 0.0f);
}

TEST_F(K3Config, UnwritableTargetIsReported) {
  std::filesystem::remove_all(host("/usr/sav3/cfg"));
  EXPECT_NE(convert_k3_config(1, 1), result::ok);
}

}  // namespace
}  // namespace sav3::testing
