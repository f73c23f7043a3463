#include "sav3/lq_zrt.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

class SupplyLive : public ScratchDevice {
 protected:
  std::vector<std::uint8_t> live(int port) {
    return headed_payload("/usr/sav3/data/port" + std::to_string(port), 92, 1);
  }
  std::vector<std::uint8_t> sub(int port) {
    return headed_payload("/usr/sav3/data/subport" + std::to_string(port), 90, 1);
  }
  // The LQ live record of board 1 on port 1 for an item record.
  std::vector<std::uint8_t> lq_with_item(const LegacyRecord& item) {
    put_file("/mnt/1/cfg/LQDataItemTmp_1.txt", item.bytes);
    EXPECT_EQ(convert_lq_live_data(1, 1), result::ok);
    return live(1);
  }
  std::vector<std::uint8_t> zrt_with_item(const LegacyRecord& item, unsigned n = 1) {
    put_file("/mnt/1/cfg/ZrtDataItemTmp_" + std::to_string(n), item.bytes);
    EXPECT_EQ(convert_zrt_live_data(2, n), result::ok);
    return live(2);
  }
  // The shared records with module n's slots holding `mine` values and the
  // other module's slots holding others, so a wrong stride shows.
  void put_shared_records(const std::string& progcfg, const std::string& warning, unsigned n) {
    const unsigned other = 3 - n;
    LegacyRecord p(388);
    for (unsigned m : {n, other}) {
      const std::uint32_t t = m == n ? 0x10 : 0x60;
      const std::size_t s = 4 * (m - 1), g = 16 * (m - 1);
      p.u32(108 + s, t + 1).u32(120 + s, t + 2).u32(132 + s, t + 3).u32(60 + s, t + 4);
      p.u32(72 + s, t + 5).u32(84 + s, t + 6).u32(36 + s, t + 7);
      p.u32(196 + s, m == n ? 5 : 9).u32(172 + s, t + 20).u32(184 + s, t + 21);
      p.u32(260 + g, 0x08080800 + t).u32(256 + g, 0x09090900 + t).u32(360 + s, 0x10101000 + t);
      p.u32(372 + s, 0x11111100 + t);
    }
    put_file(progcfg, p.bytes);
    LegacyRecord w(292);
    w.f32(20 + 140 * (n - 1), 12.34f).f32(20 + 140 * (other - 1), 1.0f);
    w.f32(280 + 4 * (n - 1), 2.5f).f32(280 + 4 * (other - 1), 7.0f);
    w.text(68, "charge");
    put_file(warning, w.bytes);

    LegacyRecord c(248);
    c.text(0, "Mon Jan 05 2015 10:20:30").f32(52 + 4 * (n - 1), -2.5f).f32(52 + 4 * (other - 1), 3.0f);
    put_file("/mnt/1/cfg/MCUDataItemTmp_1.txt", c.bytes);
    LegacyRecord crw(772);
    crw.f32(4 * (n - 1), 1.25f).f32(4 * (other - 1), 9.0f);
    crw.f32(16 + 4 * (n - 1), 655.35f).f32(16 + 4 * (other - 1), 9.0f);
    crw.u32(176 + 4 * (n - 1), 0x100).u32(176 + 4 * (other - 1), 0);
    crw.u32(256 + 4 * (n - 1), 0x1FF).u32(256 + 4 * (other - 1), 7);
    for (std::size_t i = 0; i < 30; ++i) {
      crw.f32(288 + 120 * (n - 1) + 4 * i, static_cast<float>(i) + 0.5f);
      crw.f32(288 + 120 * (other - 1) + 4 * i, 99.0f);
    }
    put_file("/mnt/1/cfg/CRWDataItemTmp", crw.bytes);
    put_file("/mnt/1/cfg/DeviceAlarm", LegacyRecord(436).u32(24, n).bytes);
    std::string mcu = "00000000000";
    mcu[n - 1] = '1';
    put_text_file("/mnt/1/cfg/mcucfg", mcu);
  }
};

TEST_F(SupplyLive, MissingLegacyFilesGiveTheBareRecords) {
  ASSERT_EQ(convert_lq_live_data(1, 1), result::ok);
  ASSERT_EQ(convert_zrt_live_data(2, 2), result::ok);
  std::vector<std::uint8_t> lq(92, 0), zrt(92, 0);
  lq[0] = 0x02, lq[1] = 0x03, lq[4] = 0x20, lq[18] = 0x07, lq[19] = 0xDA, lq[75] = 0x01;
  zrt[0] = 0x03, zrt[1] = 0x03, zrt[3] = 0x10, zrt[18] = 0x07, zrt[19] = 0xDA, zrt[75] = 0x01;
  EXPECT_EQ(live(1), lq);
  EXPECT_EQ(live(2), zrt);
  EXPECT_EQ(sub(1), std::vector<std::uint8_t>(90, 0));
  EXPECT_EQ(sub(2), std::vector<std::uint8_t>(90, 0));
}

TEST_F(SupplyLive, ModulesWithoutSlotsKeepOnlyTheirType) {
  LegacyRecord full(772);
  for (std::size_t i = 0; i < 772; ++i) full.u8(i, 0x41);
  for (const char* f :
       {"/mnt/1/cfg/progcfg", "/mnt/1/cfg/zrtprogcfg", "/mnt/1/cfg/batterywarningcfg",
        "/mnt/1/cfg/MCUDataItemTmp_1.txt", "/mnt/1/cfg/CRWDataItemTmp", "/mnt/1/cfg/DeviceAlarm",
        "/mnt/1/cfg/mcucfg", "/mnt/1/cfg/LQDataItemTmp_3.txt", "/mnt/1/cfg/ZrtDataItemTmp_3"})
    put_file(f, full.bytes);
  ASSERT_EQ(convert_lq_live_data(3, 3), result::ok);
  ASSERT_EQ(convert_zrt_live_data(4, 4), result::ok);
  std::vector<std::uint8_t> lq(92, 0), zrt(92, 0);
  lq[0] = 2;
  zrt[0] = 3;
  EXPECT_EQ(live(3), lq);
  EXPECT_EQ(live(4), zrt);
  EXPECT_EQ(sub(3), std::vector<std::uint8_t>(90, 0));
  EXPECT_EQ(sub(4), std::vector<std::uint8_t>(90, 0));
}

void expect_shared_fields(const std::vector<std::uint8_t>& rec, const std::vector<std::uint8_t>& sub) {
  using namespace lq_live;  // the shared fields are the same in both records
  EXPECT_EQ(get(rec, year), 2015u);
  EXPECT_EQ(rec[18], 0x07);
  EXPECT_EQ(rec[19], 0xDF);
  EXPECT_EQ(get(rec, date_second), 0x24u);
  EXPECT_EQ(get(rec, date_third), 0x25u);
  EXPECT_EQ(get(rec, setting_1), 0x11u);
  EXPECT_EQ(get(rec, setting_2), 0x12u);
  EXPECT_EQ(get(rec, setting_3), 0x13u);
  EXPECT_EQ(get(rec, setting_4), 0x14u);
  EXPECT_EQ(get(rec, setting_5), 0x15u);
  EXPECT_EQ(get(rec, setting_6), 0x16u);
  EXPECT_EQ(get(rec, setting_7), 0x17u);
  EXPECT_EQ(get(rec, setting_8), 0x08080810u);
  EXPECT_EQ(get(rec, setting_9), 0x09090910u);
  EXPECT_EQ(get(rec, setting_10), 0x10101010u);
  EXPECT_EQ(get(rec, setting_11), 0x11111110u);
  EXPECT_EQ(get(rec, battery_warning_value), 1234u);
  EXPECT_EQ(get(rec, battery_warning_value_again), 1234u);
  EXPECT_EQ(get(rec, warning_duration), 9000u);
  EXPECT_EQ(get_signed(rec, reading_time), 1420453230);
  EXPECT_EQ(get(rec, record_flags), 0x01u);
  EXPECT_EQ(get(rec, reserved_76), 0u);
  for (std::size_t i = 76; i < 92; ++i) EXPECT_EQ(rec[i], 0) << i;

  namespace s = supply_live_sub;
  EXPECT_EQ(get(sub, s::sub_flags), 0x03u) << "alarm count n reaches n; mcucfg character n is '1'";
  EXPECT_EQ(get_signed(sub, s::controller_reading), -250) << "-2.5 kept signed";
  EXPECT_EQ(sub[2], 0x06);
  EXPECT_EQ(sub[3], 0xFF);
  EXPECT_EQ(get(sub, s::monitor_reading_1), 125u);
  EXPECT_EQ(get(sub, s::monitor_reading_2), 65534u) << "655.35 x 100 in single precision";
  EXPECT_EQ(get(sub, s::cell_reading[0]), 50u);
  EXPECT_EQ(get(sub, s::cell_reading[17]), 1750u);
  EXPECT_EQ(get(sub, s::cell_reading[29]), 2950u);
  EXPECT_EQ(get(sub, s::monitor_count), 0xFFu);
  EXPECT_EQ(get_signed(sub, s::reading_time), 1420453230);
  EXPECT_EQ(sub[1], 0);
  for (std::size_t i = 69; i < 86; ++i) EXPECT_EQ(sub[i], 0) << i;
}

TEST_F(SupplyLive, LqBoardEveryFieldFromItsSlots) {
  ZoneScope utc("UTC0");
  for (unsigned n : {1u, 2u}) {
    SCOPED_TRACE(n);
    put_shared_records("/mnt/1/cfg/progcfg", "/mnt/1/cfg/batterywarningcfg", n);
    LegacyRecord item(184);
    item.text(25, "LQB400").text(45, "Yes").text(55, "No").text(65, "Inactive").text(75, "Active");
    item.f32(88, 12.34f).f32(92, 230.1f).f32(96, -1.5f).u32(100, 2).u32(104, 0xFFFFFFFF);
    item.u32(108, 0xDDDDDDDD).u32(112, 0x7FC00001).text(116, "VolFlt,ExtFlt").f32(180, 25.6f);
    put_file("/mnt/1/cfg/LQDataItemTmp_" + std::to_string(n) + ".txt", item.bytes);
    put_file("/mnt/1/cfg/BatteryDataItemTmp_" + std::to_string(n), LegacyRecord(40).f32(12, 53.5f).bytes);
    ASSERT_EQ(convert_lq_live_data(3, n), result::ok);
    auto rec = live(3);
    using namespace lq_live;
    EXPECT_EQ(get(rec, module_type), 2u);
    EXPECT_EQ(get(rec, model), 2u);
    EXPECT_EQ(get(rec, tenths_quantity), 0u) << "25.6 x 10 = 256, low 8 bits";
    EXPECT_EQ(get(rec, state_flags), 0x49u) << "first answer, second state word, charge mode";
    EXPECT_EQ(get(rec, fault_flags), 0xA8u);
    EXPECT_EQ(get(rec, battery_flags), 0x04u) << "the monitor alarm word of module n";
    EXPECT_EQ(get(rec, reserved_6), 0u);
    EXPECT_EQ(get(rec, board_reading_b), 23010u);
    EXPECT_EQ(get(rec, board_reading_a), 1234u);
    EXPECT_EQ(get(rec, board_reading_c), 0u) << "negative readings give 0";
    EXPECT_EQ(get(rec, controller_reading), 0u) << "-2.5 kept unsigned";
    EXPECT_EQ(get(rec, controller_reading_again), 0u);
    EXPECT_EQ(get(rec, first_duration), 7200u);
    EXPECT_EQ(get_signed(rec, second_duration), -3600);
    EXPECT_EQ(get(rec, board_value_e), 0x7FC00001u) << "copied bit for bit, even a NaN";
    EXPECT_EQ(get(rec, board_value_d), 0xDDDDDDDDu);
    EXPECT_EQ(get(rec, battery_reading_b), 5350u);
    expect_shared_fields(rec, sub(3));
  }
}

TEST_F(SupplyLive, ZrtModuleEveryFieldFromItsSlots) {
  ZoneScope utc("UTC0");
  for (unsigned n : {1u, 2u}) {
    SCOPED_TRACE(n);
    put_shared_records("/mnt/1/cfg/zrtprogcfg", "/mnt/1/cfg/zrtbatterywarningcfg", n);
    LegacyRecord item(296);
    item.text(30, "ZRT300").f32(52, 1.5f).f32(60, 2.5f).f32(64, 3.5f).f32(68, 4.5f);
    item.u32(72, 0xEEEEEEEE).u32(76, 0xFFFF0000).text(90, "Yes").text(100, "No").text(110, "Active");
    item.text(140, "Enable").u32(152, 1).u32(156, 2).u32(160, 3).u32(164, 10).u32(192, 258);
    item.text(220, "Inactive").text(230, "AC_Mode,BatLost");
    put_file("/mnt/1/cfg/ZrtDataItemTmp_" + std::to_string(n), item.bytes);
    put_file("/mnt/1/cfg/ZrtBatteryDataItemTmp_" + std::to_string(n), LegacyRecord(40).f32(12, 53.5f).bytes);
    ASSERT_EQ(convert_zrt_live_data(1, n), result::ok);
    auto rec = live(1);
    using namespace zrt_live;
    EXPECT_EQ(get(rec, module_type), 3u);
    EXPECT_EQ(get(rec, model), 2u);
    EXPECT_EQ(get(rec, small_count), 2u) << "258, low 8 bits";
    EXPECT_EQ(get(rec, state_flags), 0x56u) << "second answer, state word, second state not active, enable";
    EXPECT_EQ(get(rec, fault_flags), 0u);
    EXPECT_EQ(get(rec, battery_flags), 0x05u);
    EXPECT_EQ(get(rec, module_reading_c), 350u);
    EXPECT_EQ(get(rec, module_reading_b), 250u);
    EXPECT_EQ(get(rec, module_reading_a), 150u);
    EXPECT_EQ(get(rec, controller_reading), 0u);
    EXPECT_EQ(get(rec, controller_reading_again), 0u);
    EXPECT_EQ(get(rec, module_reading_d), 450u);
    EXPECT_EQ(get(rec, first_duration), 36000u);
    EXPECT_EQ(get(rec, second_duration), 3600u * n) << "module n's slot, 152 or 156";
    EXPECT_EQ(get(rec, module_value_f), 0xFFFF0000u);
    EXPECT_EQ(get(rec, module_value_e), 0xEEEEEEEEu);
    EXPECT_EQ(get(rec, battery_reading_b), 5350u);
    expect_shared_fields(rec, sub(1));
  }
}

TEST_F(SupplyLive, LqFaultListsSetOneBitPerWord) {
  struct Case {
    const char* list;
    std::uint32_t fault_flags, battery_flags;
  };
  for (const Case& c : {Case{"GndFlt,VolFlt,BatLost", 0xA2, 0x01}, Case{"ChargeFlt", 0x30, 0x00},
                        Case{"TemFlt ShortLatch", 0x24, 0x02}, Case{"xxExtFltxx", 0x28, 0x00},
                        Case{"", 0x20, 0x00}, Case{"gndflt,Volflt", 0x20, 0x00}}) {
    auto rec = lq_with_item(LegacyRecord(184).text(116, c.list));
    EXPECT_EQ(get(rec, lq_live::fault_flags), c.fault_flags) << c.list;
    EXPECT_EQ(get(rec, lq_live::battery_flags), c.battery_flags) << c.list;
  }
}

TEST_F(SupplyLive, AnUnterminatedFaultListEndsWithItsRecord) {
  // The list fills the record to its last byte (over the tenths float): a word
  // at the very end counts, one cut by the end does not.
  LegacyRecord item(184);
  item.raw(116, std::string(68, '-')).raw(178, "VolFlt");
  EXPECT_EQ(get(lq_with_item(item), lq_live::fault_flags), 0xA0u);
  item.raw(116, std::string(68, '-')).raw(180, "BatL");
  EXPECT_EQ(get(lq_with_item(item), lq_live::battery_flags), 0u);

  LegacyRecord zrt(296);
  zrt.raw(230, std::string(66, '-')).raw(289, "BatLost");
  EXPECT_EQ(get(zrt_with_item(zrt), zrt_live::battery_flags), 0x01u);
  zrt.raw(230, std::string(66, '-')).raw(290, "DC_Mode");  // cut by the end: "DC_Mod"
  EXPECT_EQ(get(zrt_with_item(zrt), zrt_live::state_flags) & 0x20u, 0u);
}

TEST_F(SupplyLive, AnswersCountOnlyWithTheirTerminator) {
  for (const char* answer : {"Yes ", "yes", "YES", "Yess", ""})
    EXPECT_EQ(get(lq_with_item(LegacyRecord(184).text(45, answer)), lq_live::state_flags), 0u) << answer;
  EXPECT_EQ(get(lq_with_item(LegacyRecord(184).raw(45, "YesX")), lq_live::state_flags), 0u);
  EXPECT_EQ(get(lq_with_item(LegacyRecord(184).text(45, "Yes").text(55, "Yes")), lq_live::state_flags),
            0x03u);
  EXPECT_EQ(get(zrt_with_item(LegacyRecord(296).text(100, "Yes").text(220, "Active")), zrt_live::state_flags),
            0x01u);
  EXPECT_EQ(get(zrt_with_item(LegacyRecord(296).text(90, "Yes ").text(220, "Active")), zrt_live::state_flags),
            0x00u);
}

TEST_F(SupplyLive, WordsAreComparedWhole) {
  EXPECT_EQ(get(lq_with_item(LegacyRecord(184).text(65, "Active").text(75, "Active")), lq_live::state_flags),
            0x0Cu);
  EXPECT_EQ(get(lq_with_item(LegacyRecord(184).text(65, "Active ").text(75, "active")), lq_live::state_flags),
            0x00u);
  for (auto [name, code] : {std::pair{"LQA20", 1u}, std::pair{"LQB400", 2u}, std::pair{"LQA200", 3u},
                            std::pair{"LQA2", 3u}, std::pair{"", 3u}})
    EXPECT_EQ(get(lq_with_item(LegacyRecord(184).text(25, name)), lq_live::model), code) << name;
  for (auto [name, code] : {std::pair{"ZRT1", 0u}, std::pair{"ZRT2", 1u}, std::pair{"ZRT300", 2u},
                            std::pair{"ZRT10", 3u}, std::pair{"zrt1", 3u}, std::pair{"", 3u}})
    EXPECT_EQ(get(zrt_with_item(LegacyRecord(296).text(30, name)), zrt_live::model), code) << name;
  // The second state word: bit 4 is set unless it is exactly "Active".
  for (auto [word, bit] : {std::pair{"Active", 0u}, std::pair{"Inactive", 0x10u}, std::pair{"", 0x10u}})
    EXPECT_EQ(get(zrt_with_item(LegacyRecord(296).text(220, word)), zrt_live::state_flags), bit) << word;
  EXPECT_EQ(
      get(zrt_with_item(LegacyRecord(296).text(140, "Enabled").text(220, "Active")), zrt_live::state_flags),
      0u);
  EXPECT_EQ(get(zrt_with_item(LegacyRecord(296).text(230, "DC_Mode|BatLost").text(220, "Active")),
                zrt_live::state_flags),
            0x20u);
  // The charge mode word of the LQ battery warning settings.
  put_file("/mnt/1/cfg/batterywarningcfg", LegacyRecord(292).text(68, "Charge").bytes);
  EXPECT_EQ(get(lq_with_item(LegacyRecord(184)), lq_live::state_flags), 0u);
}

TEST_F(SupplyLive, SubFlagsFollowTheAlarmCountAndTheSwitches) {
  for (auto [count, first, second] : {std::tuple{0u, 0u, 0u}, std::tuple{1u, 1u, 0u}, std::tuple{2u, 1u, 1u},
                                      std::tuple{0x80000000u, 1u, 1u}}) {
    put_file("/mnt/1/cfg/DeviceAlarm", LegacyRecord(436).u32(24, count).bytes);
    put_text_file("/mnt/1/cfg/mcucfg", "01");
    ASSERT_EQ(convert_lq_live_data(1, 1), result::ok);
    ASSERT_EQ(convert_zrt_live_data(2, 2), result::ok);
    EXPECT_EQ(get(sub(1), supply_live_sub::sub_flags), first) << count;
    EXPECT_EQ(get(sub(2), supply_live_sub::sub_flags), second | 0x02u) << count;
  }
}

TEST_F(SupplyLive, ControllerReadingsSaturateOnBothSides) {
  for (auto [value, unsigned_16, signed_16] :
       {std::tuple{-1.5f, 0u, 0xFF6Au}, std::tuple{655.36f, 0u, 0u}, std::tuple{327.68f, 32768u, 32768u},
        std::tuple{1e10f, 0xFFFFu, 0xFFFFu}, std::tuple{-1e10f, 0u, 0u}}) {
    put_file("/mnt/1/cfg/MCUDataItemTmp_1.txt", LegacyRecord(248).f32(52, value).bytes);
    ASSERT_EQ(convert_lq_live_data(1, 1), result::ok);
    EXPECT_EQ(get(live(1), lq_live::controller_reading), unsigned_16) << value;
    EXPECT_EQ(get(sub(1), supply_live_sub::controller_reading) & 0xFFFFu, signed_16) << value;
  }
}

TEST_F(SupplyLive, AnUnreadableTimeLeavesZero) {
  ZoneScope utc("UTC0");
  put_file("/mnt/1/cfg/MCUDataItemTmp_1.txt", LegacyRecord(248).text(0, "2015-01-05 10:20:30").bytes);
  ASSERT_EQ(convert_zrt_live_data(1, 1), result::ok);
  EXPECT_EQ(get(live(1), zrt_live::reading_time), 0u);
  EXPECT_EQ(get(sub(1), supply_live_sub::reading_time), 0u);
}

}  // namespace
}  // namespace sav3::testing
