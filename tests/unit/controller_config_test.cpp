#include <cstring>

#include "sav3/controller.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using ControllerConfig = ScratchDevice;
namespace cfg = controller_config;

TEST_F(ControllerConfig, NoLegacyFilesGiveTheFixedFieldsOnly) {
  ASSERT_EQ(convert_controller_config(), result::ok);
  std::vector<std::uint8_t> expected(cfg::size, 0);
  std::memcpy(&expected[4], "Enclosure Temperature", 21);
  expected[356] = 0xF0;
  expected[357] = 0xD8;
  expected[358] = 0x10;
  expected[359] = 0x27;
  expected[389] = 0x60;
  EXPECT_EQ(headed_payload(cfg::path, cfg::size, 1), expected);
}

TEST_F(ControllerConfig, PwmWordsNameSlotsAndLimits) {
  put_file(legacy_pwmcfg::path, LegacyRecord(legacy_pwmcfg::record_size)
                                    .u32(legacy_pwmcfg::control_1, 0x01000000)  // only its high byte set
                                    .u32(legacy_pwmcfg::setting, 300)
                                    .bytes);
  // Slot 660 holds a short name with junk behind its NUL; slot 240 a name of
  // 40 characters; every other slot its own offset as text.
  LegacyRecord assign(legacy_mcuassign::record_size);
  for (int off : {60, 120, 300, 420, 540, 600}) assign.text(off, "slot " + std::to_string(off));
  assign.raw(660, std::string("Battery\0junk", 12));
  assign.text(240, std::string(40, 'x'));
  put_file(legacy_mcuassign::path, assign.bytes);
  LegacyRecord report(260);
  const float limits[] = {1.5f, -0.5f, 0.019f, 327.68f, -327.69f, 100.0f, 2.25f, -1.0f, 1e10f, -1e10f};
  const int sources[] = {136, 132, 160, 168, 156, 164, 144, 152, 140, 148};
  for (int k = 0; k < 10; ++k) report.f32(sources[k], limits[k]);
  put_file(legacy_reportcfg::path, report.bytes);

  ASSERT_EQ(convert_controller_config(), result::ok);
  auto rec = headed_payload(cfg::path, cfg::size, 1);
  ASSERT_EQ(rec.size(), std::size_t{cfg::size});
  EXPECT_EQ(get(rec, cfg::control_flags), 0x01u);
  EXPECT_EQ(get(rec, cfg::pwm_setting), 44u);
  EXPECT_EQ(get_text(rec, cfg::name[0]), "Enclosure Temperature");
  EXPECT_EQ(std::string(rec.begin() + cfg::name[1].offset, rec.begin() + cfg::name[1].offset + 12),
            std::string("Battery\0junk", 12))
      << "the legacy slot is copied bit for bit";
  EXPECT_EQ(std::string(rec.begin() + cfg::name[2].offset, rec.begin() + cfg::name[2].offset + 32),
            std::string(32, 'x'));
  EXPECT_EQ(rec[cfg::name[3].offset], 's') << "no terminator after a full slot: the next slot starts at once";
  EXPECT_EQ(get_text(rec, cfg::name[3]), "slot 300");
  EXPECT_EQ(get_text(rec, cfg::name[4]), "slot 540");
  EXPECT_EQ(get_text(rec, cfg::name[5]), "slot 600");
  EXPECT_EQ(get_text(rec, cfg::name[6]), "slot 420");
  EXPECT_EQ(get_text(rec, cfg::name[7]), "slot 60");
  EXPECT_EQ(get_text(rec, cfg::name[8]), "slot 120");

  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[0])), 150);
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[1])), -50);
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[2])), 1);
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[3])), -32768) << "327.68 wraps in the 16-bit store";
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[4])), 32767) << "-32769 keeps its low 16 bits";
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[5])), 10000);
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[6])), 225);
  EXPECT_EQ(static_cast<std::int16_t>(get(rec, cfg::limit[7])), -100);
  EXPECT_EQ(static_cast<std::uint16_t>(get(rec, cfg::limit[8])), 0xFFFF)
      << "saturated to INT32_MAX, low bits";
  EXPECT_EQ(static_cast<std::uint16_t>(get(rec, cfg::limit[9])), 0x0000)
      << "saturated to INT32_MIN, low bits";
  EXPECT_EQ(rec[376], 0);
  EXPECT_EQ(rec[384], 0);
  EXPECT_EQ(get_signed(rec, cfg::range[0]), -10000);
  EXPECT_EQ(get_signed(rec, cfg::range[1]), 10000);
}

TEST_F(ControllerConfig, ReportFlagsFromReportcfgBytes) {
  struct Case {
    std::vector<int> set;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {{4, 5, 6, 7, 8, 9, 10, 11}, 0x1FF},
      {{10}, 0x60},
      {{4}, 0x61},
      {{5}, 0xE0},
      {{6}, 0x160},
      {{7}, 0x62},
      {{8}, 0x64},
      {{9}, 0x68},
      {{11}, 0x70},
      {{0, 1, 2, 3, 12, 131}, 0x60},
  };
  for (const Case& c : cases) {
    LegacyRecord report(260);
    for (int off : c.set) report.u8(off, 0x80);
    put_file(legacy_reportcfg::path, report.bytes);
    ASSERT_EQ(convert_controller_config(), result::ok);
    auto rec = headed_payload(cfg::path, cfg::size, 1);
    EXPECT_EQ(get(rec, cfg::report_flags), c.flags) << c.set.front();
    EXPECT_EQ(rec[393], 0);
  }
}

}  // namespace
}  // namespace sav3::testing
