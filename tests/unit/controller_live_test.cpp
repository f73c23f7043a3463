#include <cmath>

#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using ControllerLive = ScratchDevice;
namespace live = controller_live;
namespace legacy = controller_record;

TEST_F(ControllerLive, NoLegacyFilesGiveTheControllerCodeOnly) {
  ASSERT_EQ(convert_controller_live_data(), result::ok);
  std::vector<std::uint8_t> expected(live::size, 0);
  expected[0] = 0x01;
  EXPECT_EQ(headed_payload(live::path, live::size, 1), expected);
}

TEST_F(ControllerLive, ReadingsFlagsPwmWordsAndTime) {
  ZoneScope zone("UTC0");
  LegacyRecord item(legacy::size);
  item.text(legacy::time_text, "Mon Jan 05 2015 10:20:30")
      .f32(legacy::reading_a, -1.234f)
      .f32(legacy::reading_b, 1.5f)
      .f32(legacy::reading_c, 0.019f)
      .f32(legacy::reading_d, 327.68f)
      .f32(legacy::reading_e, -2.5f)
      .f32(legacy::reading_f, 100000.0f)  // 10^7: beyond 16 bits, kept as its low bits
      .raw(legacy::state_word, std::string("Active\0junk", 11))
      .text(legacy::switch_1, "ON")
      .text(legacy::switch_2, "ON ")
      .f32(legacy::tenths, 25.5f);
  put_file(legacy::item_path, item.bytes);
  LegacyRecord pwm(legacy_pwmcfg::record_size);
  pwm.u32(legacy_pwmcfg::control_1, 0xFFFFFFFF)
      .u16(legacy_pwmcfg::pwm_word_1, 0xBEEF)
      .u16(legacy_pwmcfg::pwm_word_1 + 2, 0xAAAA)
      .u16(legacy_pwmcfg::pwm_word_2, 0x1234)
      .u16(legacy_pwmcfg::pwm_word_2 + 2, 0x5555);
  put_file(legacy_pwmcfg::path, pwm.bytes);

  ASSERT_EQ(convert_controller_live_data(), result::ok);
  auto rec = headed_payload(live::path, live::size, 1);
  ASSERT_EQ(rec.size(), std::size_t{live::size});
  EXPECT_EQ(get(rec, live::module_type), 1u);
  EXPECT_EQ(get(rec, live::tenths), 255u);
  EXPECT_EQ(get(rec, live::state_flags), 0x03u) << "Active and the first switch; \"ON \" is not ON";
  EXPECT_EQ(get_signed(rec, live::reading_a), -123);
  EXPECT_EQ(rec[live::reading_a.offset], 0x85);
  EXPECT_EQ(rec[live::reading_a.offset + 1], 0xFF);
  EXPECT_EQ(get(rec, live::reading_d) & 0xFFFF, 0x8000u);
  EXPECT_EQ(get(rec, live::reading_e) & 0xFFFF, 0xFF06u);
  EXPECT_EQ(get(rec, live::reading_f) & 0xFFFF, 10000000u & 0xFFFF);
  EXPECT_EQ(get_signed(rec, live::reading_b), 150);
  EXPECT_EQ(get_signed(rec, live::reading_c), 1);
  EXPECT_EQ(get(rec, live::pwm_word_1), 0xBEEFu);
  EXPECT_EQ(get(rec, live::pwm_word_2), 0x1234u);
  EXPECT_EQ(get_signed(rec, live::reading_time), 1420453230);
  for (const Field& f : {live::reserved_1, live::reserved_2})
    for (unsigned i = 0; i < f.width; ++i) EXPECT_EQ(rec[f.offset + i], 0) << f.name;
}

TEST_F(ControllerLive, TenthsWrapStateWordsAndUnparsedTime) {
  struct Case {
    float tenths;
    std::uint32_t stored;
    const char* state;
    const char* time;
  };
  const Case cases[] = {
      {25.6f, 0, "active", "Mon Jan 05 2015"},             // 256 keeps its low byte; no time of day
      {-1.0f, 0, "Active ", "yesterday"},                  // negative gives 0
      {std::nanf(""), 0, "Activex", ""},                   // NaN gives 0
      {1e12f, 0xFF, "Active\n", "Mon Jan 05 2015 10:20"},  // saturates to 0xFFFFFFFF
  };
  for (const Case& c : cases) {
    LegacyRecord item(legacy::size);
    item.text(legacy::time_text, c.time).f32(legacy::tenths, c.tenths).text(legacy::state_word, c.state);
    item.f32(legacy::reading_c, -0.5f).text(legacy::switch_2, "ON");
    put_file(legacy::item_path, item.bytes);
    ASSERT_EQ(convert_controller_live_data(), result::ok);
    auto rec = headed_payload(live::path, live::size, 1);
    EXPECT_EQ(get(rec, live::tenths), c.stored) << c.tenths;
    EXPECT_EQ(get(rec, live::state_flags), 0x04u) << c.state;
    EXPECT_EQ(get(rec, live::reading_time), 0u) << c.time;
    EXPECT_EQ(get_signed(rec, live::reading_c), -50) << "other fields still converted";
  }
}

TEST_F(ControllerLive, SwitchTextsWithoutTheirNulOrInLowerCase) {
  LegacyRecord item(legacy::size);
  item.raw(legacy::switch_1, "ONN").text(legacy::switch_2, "on");
  put_file(legacy::item_path, item.bytes);
  ASSERT_EQ(convert_controller_live_data(), result::ok);
  EXPECT_EQ(get(headed_payload(live::path, live::size, 1), live::state_flags), 0u);
}

TEST_F(ControllerLive, UnwritableTargetIsReported) {
  std::filesystem::remove_all(host("/usr/sav3/data"));
  EXPECT_NE(convert_controller_live_data(), result::ok);
}

}  // namespace
}  // namespace sav3::testing
