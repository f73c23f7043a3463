#include <filesystem>

#include "sav3/lq_zrt.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

class SupplyConfig : public ScratchDevice {
 protected:
  // The report flags that module n of the kind gets from the reportcfg in place.
  std::uint32_t report_flags_after(bool zrt, unsigned n) {
    EXPECT_EQ(zrt ? convert_zrt_config(1, n) : convert_lq_config(1, n), result::ok);
    return get(headed_payload("/usr/sav3/cfg/port1", 103, 1), supply_config::report_flags);
  }
};

constexpr char lq_progcfg[] = "/mnt/1/cfg/progcfg";
constexpr char zrt_progcfg[] = "/mnt/1/cfg/zrtprogcfg";
constexpr char lq_warning[] = "/mnt/1/cfg/batterywarningcfg";
constexpr char zrt_warning[] = "/mnt/1/cfg/zrtbatterywarningcfg";

// Board settings of module n with values that tell every slot apart; the other
// module's slots hold other values, so a wrong stride shows.
LegacyRecord progcfg_for(unsigned n, std::uint32_t tag) {
  LegacyRecord r(388);
  for (unsigned m = 1; m <= 2; ++m) {
    const std::uint32_t t = m == n ? tag : tag + 0x50;
    const std::size_t s = 4 * (m - 1), g = 16 * (m - 1);
    r.u32(36 + s, t + 7).u32(60 + s, t + 4).u32(72 + s, t + 5).u32(84 + s, t + 6);
    r.u32(108 + s, t + 1).u32(120 + s, t + 2).u32(132 + s, t + 3);
    r.u32(172 + s, 0x100 + t + 12).u32(184 + s, t + 13).u32(196 + s, m == n ? 15 : 9);
    r.u32(264 + g, 0xA1B2C300 + t).u32(268 + g, m == n ? 0 : 1).u32(336 + s, m == n ? 49711 : 3);
  }
  return r;
}

LegacyRecord warning_for(unsigned n) {
  LegacyRecord r(292);
  for (unsigned m = 1; m <= 2; ++m) {
    const bool mine = m == n;
    r.f32(8 + 140 * (m - 1), mine ? 2.0f : 5.0f);
    r.f32(20 + 140 * (m - 1), mine ? 12.25f : 99.0f);
    r.f32(280 + 4 * (m - 1), mine ? 1.5f : 8.0f);
    r.u8(288 + (m - 1), mine ? 0x7F : 0);
  }
  return r;
}

void expect_settings_of(const std::vector<std::uint8_t>& rec, std::uint32_t tag) {
  namespace c = supply_config;
  EXPECT_EQ(get(rec, c::warning_switch), 0x4000u);
  EXPECT_EQ(get(rec, c::setting_1), tag + 1);
  EXPECT_EQ(get(rec, c::setting_2), tag + 2);
  EXPECT_EQ(get(rec, c::setting_3), tag + 3);
  EXPECT_EQ(get(rec, c::setting_4), tag + 4);
  EXPECT_EQ(get(rec, c::setting_5), tag + 5);
  EXPECT_EQ(get(rec, c::setting_6), tag + 6);
  EXPECT_EQ(get(rec, c::setting_7), tag + 7);
  EXPECT_EQ(get(rec, c::year), 2025u);
  EXPECT_EQ(rec[10], 0x07);  // high byte first
  EXPECT_EQ(rec[11], 0xE9);
  EXPECT_EQ(get(rec, c::date_second), (tag + 12) & 0xFF) << "low 8 bits only";
  EXPECT_EQ(get(rec, c::date_third), tag + 13);
  EXPECT_EQ(get(rec, c::warning_duration), 5400u);
  EXPECT_EQ(get_f32(rec, c::battery_warning_value), 12.25f);
  EXPECT_EQ(get(rec, c::year_span), 63072000u);
  EXPECT_EQ(get(rec, c::setting_12), 0xA1B2C300u + tag);
  EXPECT_EQ(get(rec, c::day_count), 63104u) << "49711 days wrap in the 32-bit product";
  EXPECT_EQ(get(rec, c::setting_13_zero), 1u);
}

TEST_F(SupplyConfig, MissingLegacyFilesGiveTheBareRecords) {
  ASSERT_EQ(convert_lq_config(2, 1), result::ok);
  ASSERT_EQ(convert_zrt_config(3, 2), result::ok);
  for (auto [port, flags] : {std::pair{2, 0x2460u}, std::pair{3, 0x2230u}}) {
    std::vector<std::uint8_t> expected(103, 0);
    expected[10] = 0x07;  // year 2010
    expected[11] = 0xDA;
    expected[40] = 1;  // setting 13 reads 0
    write32le(expected, 41, flags);
    EXPECT_EQ(headed_payload("/usr/sav3/cfg/port" + std::to_string(port), 103, 1), expected) << port;
    std::vector<std::uint8_t> sub(27, 0);
    sub[0] = 0x08;  // the monitor word at 240 reads 0
    EXPECT_EQ(headed_payload("/usr/sav3/cfg/subport" + std::to_string(port), 27, 1), sub) << port;
  }
}

TEST_F(SupplyConfig, EveryFieldFromTheSlotsOfItsModule) {
  for (unsigned n : {1u, 2u}) {
    put_file(lq_progcfg, progcfg_for(n, 0x10).bytes);
    put_file(lq_warning, warning_for(n).bytes);
    put_file(zrt_progcfg, progcfg_for(n, 0x20).bytes);
    put_file(zrt_warning, warning_for(n).bytes);
    put_file("/mnt/1/cfg/emailcfg", LegacyRecord(756).u32(688, 0x1234).bytes);
    LegacyRecord crw(772);
    crw.u32(192 + 4 * (n - 1), 5).u32(240 + 4 * (n - 1), 9);
    crw.u32(192 + 4 * (2 - n), 0).u32(240 + 4 * (2 - n), 0);
    put_file("/mnt/1/cfg/CRWDataItemTmp", crw.bytes);

    ASSERT_EQ(convert_lq_config(1, n), result::ok);
    ASSERT_EQ(convert_zrt_config(4, n), result::ok);
    auto lq = headed_payload("/usr/sav3/cfg/port1", 103, 1);
    auto zrt = headed_payload("/usr/sav3/cfg/port4", 103, 1);
    SCOPED_TRACE(n);
    expect_settings_of(lq, 0x10);
    expect_settings_of(zrt, 0x20);
    for (const auto& rec : {lq, zrt}) {
      EXPECT_EQ(get(rec, supply_config::email_byte), 0x34u);
      EXPECT_EQ(get(rec, supply_config::reserved_35), 0u);
      for (std::size_t i = 45; i < 103; ++i) EXPECT_EQ(rec[i], 0) << i;
    }
    for (const char* sub : {"/usr/sav3/cfg/subport1", "/usr/sav3/cfg/subport4"})
      EXPECT_EQ(get(headed_payload(sub, 27, 1), supply_config_sub::monitor_flags), 0x01u);
  }
}

TEST_F(SupplyConfig, ScaledDurationsSaturateAndTheSwitchIsOneBit) {
  LegacyRecord w(292);
  w.f32(280, -1.0f).f32(8, -0.5f).u8(288, 1);
  w.f32(284, 2e6f).f32(148, 1000.0f).u8(289, 0xFF);
  put_file(lq_warning, w.bytes);
  ASSERT_EQ(convert_lq_config(1, 1), result::ok);
  auto rec = headed_payload("/usr/sav3/cfg/port1", 103, 1);
  EXPECT_EQ(get(rec, supply_config::warning_duration), 0u);
  EXPECT_EQ(get(rec, supply_config::year_span), 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(rec.begin(), rec.begin() + 4),
            (std::vector<std::uint8_t>{0, 0x40, 0, 0}));
  ASSERT_EQ(convert_lq_config(1, 2), result::ok);
  rec = headed_payload("/usr/sav3/cfg/port1", 103, 1);
  EXPECT_EQ(get(rec, supply_config::warning_duration), 0xFFFFFFFFu) << "2e6 hours exceed 32 bits";
  EXPECT_EQ(get(rec, supply_config::year_span), 0xFFFFFFFFu);
  EXPECT_EQ(get(rec, supply_config::warning_switch), 0x4000u);
}

// The reportcfg byte behind each report flag bit, for modules 1 and 2, as the
// device's reporting settings lay them out (0 = always set).
struct BitSource {
  int lq[2];
  int zrt[2];
};
constexpr BitSource bit_sources[21] = {
    {{28, 41}, {184, 199}},   {{29, 42}, {185, 200}},   {{30, 43}, {186, 201}},   {{31, 44}, {187, 202}},
    {{32, 45}, {0, 0}},       {{0, 0}, {0, 0}},         {{0, 0}, {190, 205}},     {{33, 46}, {188, 203}},
    {{34, 47}, {191, 206}},   {{35, 48}, {0, 0}},       {{0, 0}, {192, 207}},     {{36, 49}, {193, 208}},
    {{37, 50}, {194, 209}},   {{0, 0}, {0, 0}},         {{38, 51}, {195, 210}},   {{39, 52}, {196, 211}},
    {{40, 53}, {197, 212}},   {{229, 234}, {244, 249}}, {{230, 235}, {245, 250}}, {{231, 236}, {246, 251}},
    {{232, 237}, {247, 252}},
};

TEST_F(SupplyConfig, EachReportFlagBitComesFromItsOwnByte) {
  for (int module = 0; module < 2; ++module) {
    const unsigned n = static_cast<unsigned>(module + 1);
    for (int bit = 0; bit < 21; ++bit) {
      for (bool zrt : {false, true}) {
        const int byte = zrt ? bit_sources[bit].zrt[module] : bit_sources[bit].lq[module];
        if (byte == 0) continue;
        put_file("/mnt/1/cfg/reportcfg", LegacyRecord(260).u8(static_cast<std::size_t>(byte), 0x80).bytes);
        const std::uint32_t base = zrt ? 0x2230u : 0x2460u;
        EXPECT_EQ(report_flags_after(zrt, n), base | (1u << bit))
            << (zrt ? "ZRT" : "LQ") << " module " << n << " byte " << byte;
      }
    }
  }
}

TEST_F(SupplyConfig, ReportFlagsOfWholeRows) {
  LegacyRecord all(260);
  for (std::size_t i = 0; i < 260; ++i) all.u8(i, 1);
  put_file("/mnt/1/cfg/reportcfg", all.bytes);
  EXPECT_EQ(report_flags_after(false, 1), 0x1FFFFFu);
  EXPECT_EQ(report_flags_after(true, 2), 0x1FFFFFu);

  // The ZRT row alone: unused byte 189 sets nothing, and the LQ board sees none of it.
  LegacyRecord zrt_row(260);
  for (std::size_t i = 184; i <= 197; ++i) zrt_row.u8(i, 1);
  for (std::size_t i = 244; i <= 247; ++i) zrt_row.u8(i, 1);
  put_file("/mnt/1/cfg/reportcfg", zrt_row.bytes);
  EXPECT_EQ(report_flags_after(true, 1), 0x1FFFFFu);
  EXPECT_EQ(report_flags_after(false, 1), 0x2460u);
  put_file("/mnt/1/cfg/reportcfg", LegacyRecord(260).u8(189, 1).bytes);
  EXPECT_EQ(report_flags_after(true, 1), 0x2230u);

  // The same reportcfg: LQ board 1 reads bytes 28..40, ZRT module 1 does not.
  LegacyRecord lq_row(260);
  for (std::size_t i = 28; i <= 40; ++i) lq_row.u8(i, 1);
  put_file("/mnt/1/cfg/reportcfg", lq_row.bytes);
  EXPECT_EQ(report_flags_after(false, 1), 0x1FFFFu);
  EXPECT_EQ(report_flags_after(true, 1), 0x2230u);
}

TEST_F(SupplyConfig, ModulesWithoutSlotsGetZeroRecords) {
  LegacyRecord full(772);
  for (std::size_t i = 0; i < 772; ++i) full.u8(i, 0xFF);
  for (const char* f : {lq_progcfg, zrt_progcfg, lq_warning, zrt_warning, "/mnt/1/cfg/emailcfg",
                        "/mnt/1/cfg/reportcfg", "/mnt/1/cfg/CRWDataItemTmp"})
    put_file(f, full.bytes);
  ASSERT_EQ(convert_lq_config(3, 3), result::ok);
  ASSERT_EQ(convert_zrt_config(4, 4), result::ok);
  for (int port : {3, 4}) {
    EXPECT_EQ(headed_payload("/usr/sav3/cfg/port" + std::to_string(port), 103, 1),
              std::vector<std::uint8_t>(103, 0));
    EXPECT_EQ(headed_payload("/usr/sav3/cfg/subport" + std::to_string(port), 27, 1),
              std::vector<std::uint8_t>(27, 0));
  }
}

TEST_F(SupplyConfig, AFailedWriteIsReportedEvenWhenTheLastOneSucceeds) {
  std::filesystem::create_directories(host("/usr/sav3/cfg/port2"));  // cannot be opened as a file
  EXPECT_NE(convert_zrt_config(2, 1), result::ok);
  EXPECT_EQ(headed_payload("/usr/sav3/cfg/subport2", 27, 1).size(), 27u) << "the sub-record is still written";
}

}  // namespace
}  // namespace sav3::testing
