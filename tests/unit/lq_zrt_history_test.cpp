#include <chrono>
#include <cstdio>
#include <functional>

#include "sav3/lq_zrt.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

constexpr std::size_t kRecords = 1000;
constexpr std::int32_t kTenOClock = 1420452000;  // Mon Jan 05 2015 10:00:00 UTC

// A report of `count` records, record i built by `make(i)`.
std::vector<std::uint8_t> report(std::size_t size, std::size_t count,
                                 const std::function<void(LegacyRecord&, std::size_t)>& make) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < count; ++i) {
    LegacyRecord r(size);
    make(r, i);
    out.insert(out.end(), r.bytes.begin(), r.bytes.end());
  }
  return out;
}

std::string time_text(std::size_t i) {
  char text[64];
  std::snprintf(text, sizeof text, "Mon Jan 05 2015 10:%02zu:%02zu", i / 60, i % 60);
  return text;
}

class SupplyHistory : public ScratchDevice {
 protected:
  std::vector<std::uint8_t> history(int port) {
    return headed_payload("/usr/sav3/history/port" + std::to_string(port), 104, kRecords);
  }
  static ConstBytes record(const std::vector<std::uint8_t>& h, std::size_t i) {
    return ConstBytes(h).subspan(104 * i, 104);
  }
  void expect_zero_sub(int port) {
    EXPECT_EQ(headed_payload("/usr/sav3/history/subport" + std::to_string(port), 12, kRecords),
              std::vector<std::uint8_t>(12 * kRecords, 0));
  }

  // The controller report, the extra and battery reports of module n and the
  // board settings with module n's slots, all telling records apart by i.
  void put_moment_reports(const std::string& kind, const std::string& progcfg, unsigned n) {
    put_file("/usr/sav/data/MCUDataItemReport1.txt",
             report(248, kRecords, [](LegacyRecord& r, std::size_t i) {
               r.text(0, time_text(i)).f32(52, static_cast<float>(i)).f32(56, 2.0f * static_cast<float>(i));
             }));
    const std::string number = std::to_string(n) + ".txt";
    put_file("/usr/sav/data/N" + kind + "DataItemReport" + number,
             report(12, kRecords, [](LegacyRecord& r, std::size_t i) {
               r.u32(0, 0xE1000000 + static_cast<std::uint32_t>(i))
                   .u32(4, 0xE2000000 + static_cast<std::uint32_t>(i));
               r.f32(8, static_cast<float>(i) / 4.0f);
             }));
    const std::string battery = kind == "LQ" ? "Battery" : "ZrtBattery";
    put_file("/usr/sav/data/" + battery + "DataItemReport" + number,
             report(40, kRecords, [](LegacyRecord& r, std::size_t i) {
               const float f = static_cast<float>(i);
               r.f32(0, f + 0.25f).f32(12, f + 0.5f).f32(16, -f - 1.0f).f32(24, 0.5f);
               r.u32(28, 0xD0000000 + static_cast<std::uint32_t>(i))
                   .u32(36, 49711u + static_cast<std::uint32_t>(i));
             }));
    LegacyRecord p(388);
    for (unsigned m = 1; m <= 2; ++m) {
      const std::uint32_t t = m == n ? 0x10 : 0x60;
      const std::size_t s = 4 * (m - 1);
      p.u32(196 + s, m == n ? 15 : 3).u32(172 + s, t + 20).u32(184 + s, t + 21);
      p.u32(108 + s, t + 1).u32(120 + s, t + 2).u32(132 + s, t + 3).u32(60 + s, t + 4);
      p.u32(72 + s, t + 5).u32(84 + s, t + 6).u32(36 + s, t + 7);
    }
    put_file(progcfg, p.bytes);
  }

  // The fields from the extra, battery and controller reports at record i.
  static void expect_moment(ConstBytes rec, std::size_t i) {
    using namespace lq_history;  // the same in the ZRT record
    const auto u = static_cast<std::uint32_t>(i);
    EXPECT_EQ(get(rec, battery_value_d), 0xD0000000 + u);
    EXPECT_EQ(get(rec, battery_reading_b), (u * 100 + 50) & 0xFFFF);
    EXPECT_EQ(get(rec, battery_reading_c), 0u) << "negative readings give 0";
    EXPECT_EQ(get(rec, battery_reading_c_again), 0u);
    EXPECT_EQ(get(rec, extra_value_1), 0xE1000000 + u);
    EXPECT_EQ(get(rec, extra_value_2), 0xE2000000 + u);
    EXPECT_EQ(get_signed(rec, reading_time), kTenOClock + static_cast<std::int32_t>(i));
    EXPECT_EQ(get(rec, extra_duration), u * 900);
    EXPECT_EQ(get(rec, flags_3), 0u);
    EXPECT_EQ(get(rec, reserved_45), 0u);
    for (std::size_t b = 76; b < 96; ++b) EXPECT_EQ(rec[b], 0) << b;
    EXPECT_EQ(get(rec, year_span), 15768000u);
    EXPECT_EQ(get(rec, day_span), (49711u + u) * 86400u) << "32-bit wrap-around";
  }
  static void expect_settings(ConstBytes rec, bool with_setting_7) {
    using namespace lq_history;
    EXPECT_EQ(get(rec, year), 2025u);
    EXPECT_EQ(rec[18], 0x07);
    EXPECT_EQ(rec[19], 0xE9);
    EXPECT_EQ(get(rec, date_second), 0x24u);
    EXPECT_EQ(get(rec, date_third), 0x25u);
    EXPECT_EQ(get(rec, setting_1), 0x11u);
    EXPECT_EQ(get(rec, setting_2), 0x12u);
    EXPECT_EQ(get(rec, setting_3), 0x13u);
    EXPECT_EQ(get(rec, setting_4), 0x14u);
    EXPECT_EQ(get(rec, setting_5), 0x15u);
    EXPECT_EQ(get(rec, setting_6), 0x16u);
    EXPECT_EQ(get(rec, setting_7), with_setting_7 ? 0x17u : 0u);
  }
};

TEST_F(SupplyHistory, MissingLegacyFilesGiveTheBareRecords) {
  ASSERT_EQ(convert_lq_history(1, 1), result::ok);
  ASSERT_EQ(convert_zrt_history(2, 2), result::ok);
  std::vector<std::uint8_t> lq, zrt;
  for (std::size_t i = 0; i < kRecords; ++i) {
    std::vector<std::uint8_t> l(104, 0), z(104, 0);
    l[0] = 0x02, l[1] = 0x03, l[4] = 0x20, l[18] = 0x07, l[19] = 0xDA;
    z[0] = 0x03, z[1] = 0x03, z[3] = 0x10, z[18] = 0x07, z[19] = 0xDA;
    lq.insert(lq.end(), l.begin(), l.end());
    zrt.insert(zrt.end(), z.begin(), z.end());
  }
  EXPECT_EQ(history(1), lq);
  EXPECT_EQ(history(2), zrt);
  expect_zero_sub(1);
  expect_zero_sub(2);
}

TEST_F(SupplyHistory, LqRecordsJoinTheMomentsOfAllReports) {
  ZoneScope utc("UTC0");
  put_moment_reports("LQ", "/mnt/1/cfg/progcfg", 2);
  put_file("/usr/sav/data/LQDataItemReport2.txt", report(184, kRecords, [](LegacyRecord& r, std::size_t i) {
             const float f = static_cast<float>(i);
             r.text(25, i % 2 ? "LQA20" : "LQB400").text(45, "Yes").text(55, i == 999 ? "Yes" : "No");
             r.text(65, "Active").text(75, "Inactive").f32(88, f).f32(92, f + 1.0f).f32(96, f + 2.0f);
             r.u32(100, static_cast<std::uint32_t>(i))
                 .u32(104, 1)
                 .u32(108, 0xDD000000 + static_cast<std::uint32_t>(i));
             r.u32(112, 0xEE000000).text(116, "ChargeFlt,BatLost,xTemFltx").f32(180, 1.5f);
           }));
  ASSERT_EQ(convert_lq_history(3, 2), result::ok);
  auto h = history(3);
  for (std::size_t i : {0u, 1u, 500u, 999u}) {
    SCOPED_TRACE(i);
    auto rec = record(h, i);
    const auto u = static_cast<std::uint32_t>(i);
    using namespace lq_history;
    EXPECT_EQ(get(rec, module_type), 2u);
    EXPECT_EQ(get(rec, model), i % 2 ? 1u : 2u);
    EXPECT_EQ(get(rec, tenths_quantity), 15u);
    EXPECT_EQ(get(rec, state_flags), i == 999 ? 0x07u : 0x05u);
    EXPECT_EQ(get(rec, fault_flags), 0x34u);
    EXPECT_EQ(get(rec, battery_flags), 0x01u);
    EXPECT_EQ(get(rec, board_reading_b), (u * 100 + 100) & 0xFFFF);
    EXPECT_EQ(get(rec, board_reading_a), (u * 100) & 0xFFFF);
    EXPECT_EQ(get(rec, board_reading_c), (u * 100 + 200) & 0xFFFF);
    EXPECT_EQ(get(rec, battery_reading_a), (u * 100 + 25) & 0xFFFF);
    EXPECT_EQ(get(rec, controller_reading), (u * 200) & 0xFFFF) << "module 2 takes the reading at 56";
    EXPECT_EQ(get(rec, first_duration), u * 3600);
    EXPECT_EQ(get(rec, second_duration), 3600u);
    EXPECT_EQ(get(rec, board_value_e), 0xEE000000u);
    EXPECT_EQ(get(rec, board_value_d), 0xDD000000 + u);
    expect_settings(rec, true);
    expect_moment(rec, i);
  }
  expect_zero_sub(3);
}

TEST_F(SupplyHistory, ZrtRecordsJoinTheMomentsOfAllReports) {
  ZoneScope utc("UTC0");
  put_moment_reports("Zrt", "/mnt/1/cfg/zrtprogcfg", 1);
  put_file(
      "/usr/sav/data/ZrtDataItemReport1.txt", report(296, kRecords, [](LegacyRecord& r, std::size_t i) {
        const float f = static_cast<float>(i);
        r.text(30, i == 500 ? "ZRT1" : "ZRT300").f32(52, f).f32(60, f + 1.0f).f32(64, f + 2.0f).f32(68, 4.0f);
        r.u32(72, 0xEE000000)
            .u32(76, 0xFF000000 + static_cast<std::uint32_t>(i))
            .text(90, "Yes")
            .text(100, "Yes");
        r.text(110, "Active").text(140, "Enable").u32(152, 1).u32(156, 2).u32(164, 3).u32(192, 300);
        r.text(220, i == 999 ? "Active" : "Standby").text(230, "DC_Mode,BatLost");
      }));
  ASSERT_EQ(convert_zrt_history(4, 1), result::ok);
  auto h = history(4);
  for (std::size_t i : {0u, 500u, 999u}) {
    SCOPED_TRACE(i);
    auto rec = record(h, i);
    const auto u = static_cast<std::uint32_t>(i);
    using namespace zrt_history;
    EXPECT_EQ(get(rec, module_type), 3u);
    EXPECT_EQ(get(rec, model), i == 500 ? 0u : 2u);
    EXPECT_EQ(get(rec, small_count), 44u) << "300, low 8 bits";
    EXPECT_EQ(get(rec, state_flags), i == 999 ? 0x67u : 0x77u);
    EXPECT_EQ(get(rec, fault_flags), 0u);
    EXPECT_EQ(get(rec, battery_flags), 0x01u);
    EXPECT_EQ(get(rec, module_reading_c), (u * 100 + 200) & 0xFFFF);
    EXPECT_EQ(get(rec, module_reading_b), (u * 100 + 100) & 0xFFFF);
    EXPECT_EQ(get(rec, module_reading_a), (u * 100) & 0xFFFF);
    EXPECT_EQ(get(rec, battery_reading_a), (u * 100 + 25) & 0xFFFF);
    EXPECT_EQ(get(rec, battery_reading_a_again), (u * 100 + 25) & 0xFFFF);
    EXPECT_EQ(get(rec, module_reading_d), 400u);
    EXPECT_EQ(get(rec, first_duration), 10800u);
    EXPECT_EQ(get(rec, second_duration), 3600u) << "module 1's slot at 152";
    EXPECT_EQ(get(rec, module_value_f), 0xFF000000 + u);
    EXPECT_EQ(get(rec, module_value_e), 0xEE000000u);
    expect_settings(rec, false);
    expect_moment(rec, i);
  }
  expect_zero_sub(4);
}

TEST_F(SupplyHistory, ModulesWithoutSlotsLeaveTheirSettingsZero) {
  ZoneScope utc("UTC0");
  put_moment_reports("LQ", "/mnt/1/cfg/progcfg", 1);
  put_moment_reports("Zrt", "/mnt/1/cfg/zrtprogcfg", 1);
  for (const char* from :
       {"/usr/sav/data/NLQDataItemReport1.txt", "/usr/sav/data/BatteryDataItemReport1.txt"}) {
    std::string to = from;
    to.replace(to.find("1.txt"), 1, "3");
    put_file(to, file_bytes(from));
  }
  for (const char* from :
       {"/usr/sav/data/NZrtDataItemReport1.txt", "/usr/sav/data/ZrtBatteryDataItemReport1.txt"}) {
    std::string to = from;
    to.replace(to.find("1.txt"), 1, "4");
    put_file(to, file_bytes(from));
  }
  put_file("/usr/sav/data/LQDataItemReport3.txt",
           report(184, kRecords, [](LegacyRecord& r, std::size_t) { r.text(25, "LQA20").f32(88, 1.0f); }));
  put_file("/usr/sav/data/ZrtDataItemReport4.txt", report(296, kRecords, [](LegacyRecord& r, std::size_t) {
             r.u32(156, 2).u32(160, 3).u32(164, 4);
           }));
  ASSERT_EQ(convert_lq_history(1, 3), result::ok);
  ASSERT_EQ(convert_zrt_history(2, 4), result::ok);
  auto lq = history(1), zrt = history(2);
  for (std::size_t i : {0u, 999u}) {
    SCOPED_TRACE(i);
    auto l = record(lq, i), z = record(zrt, i);
    for (std::size_t b = 16; b <= 21; ++b) EXPECT_EQ(l[b], 0) << "LQ byte " << b;
    for (std::size_t b = 38; b <= 44; ++b) EXPECT_EQ(l[b], 0) << "LQ byte " << b;
    for (std::size_t b = 18; b <= 21; ++b) EXPECT_EQ(z[b], 0) << "ZRT byte " << b;
    for (std::size_t b = 38; b <= 44; ++b) EXPECT_EQ(z[b], 0) << "ZRT byte " << b;
    EXPECT_EQ(get(l, lq_history::model), 1u);
    EXPECT_EQ(get(l, lq_history::board_reading_a), 100u);
    EXPECT_EQ(get(z, zrt_history::first_duration), 4u * 3600) << "module 4's slot, 164";
    EXPECT_EQ(get(z, zrt_history::second_duration), 4u * 3600) << "148 + 4 x 4";
    expect_moment(l, i);
    expect_moment(z, i);
  }
}

TEST_F(SupplyHistory, ZrtModuleThreeTakesTheDurationAt160) {
  put_file("/usr/sav/data/ZrtDataItemReport3.txt",
           report(296, kRecords, [](LegacyRecord& r, std::size_t) { r.u32(156, 2).u32(160, 3); }));
  ASSERT_EQ(convert_zrt_history(1, 3), result::ok);
  auto h = history(1);
  EXPECT_EQ(get(record(h, 0), zrt_history::second_duration), 3u * 3600);
  EXPECT_EQ(get(record(h, 999), zrt_history::second_duration), 3u * 3600);
  EXPECT_EQ(get(record(h, 0), zrt_history::year), 0u) << "no 2010 without a slot";
}

TEST_F(SupplyHistory, RecordsPastAShortReportComeFromZeros) {
  put_file("/usr/sav/data/LQDataItemReport1.txt", report(184, 10, [](LegacyRecord& r, std::size_t) {
             r.text(25, "LQA20").text(116, "GndFlt").f32(88, 2.0f);
           }));
  // A report cut inside record 10: its first bytes count, the rest are zero.
  auto partial = report(184, 11, [](LegacyRecord& r, std::size_t) { r.text(25, "LQA20").f32(88, 2.0f); });
  partial.resize(184 * 10 + 30);
  put_file("/usr/sav/data/LQDataItemReport2.txt", partial);
  ASSERT_EQ(convert_lq_history(1, 1), result::ok);
  ASSERT_EQ(convert_lq_history(2, 2), result::ok);
  auto h = history(1);
  EXPECT_EQ(get(record(h, 9), lq_history::model), 1u);
  EXPECT_EQ(get(record(h, 9), lq_history::fault_flags), 0x22u);
  EXPECT_EQ(get(record(h, 9), lq_history::board_reading_a), 200u);
  for (std::size_t i : {10u, 500u, 999u}) {
    EXPECT_EQ(get(record(h, i), lq_history::model), 3u) << i;
    EXPECT_EQ(get(record(h, i), lq_history::fault_flags), 0x20u) << i;
    EXPECT_EQ(get(record(h, i), lq_history::board_reading_a), 0u) << i;
    EXPECT_EQ(get(record(h, i), lq_history::year), 2010u) << i;
  }
  auto cut = history(2);
  EXPECT_EQ(get(record(cut, 10), lq_history::model), 1u) << "the name lies in the bytes read";
  EXPECT_EQ(get(record(cut, 10), lq_history::board_reading_a), 0u) << "the reading does not";
}

TEST_F(SupplyHistory, TextsEndWithTheirRecord) {
  // Record 0 holds no NUL at all; record 1 begins with fault and mode words.
  // Nothing of record 1 may count for record 0.
  std::vector<std::uint8_t> lq(184 * 2, 'x');
  for (std::size_t b = 0; b < 8; ++b) lq[184 + b] = static_cast<std::uint8_t>("GndFlt,\0"[b]);
  put_file("/usr/sav/data/LQDataItemReport1.txt", lq);
  std::vector<std::uint8_t> zrt(296 * 2, 'y');
  for (std::size_t b = 0; b < 8; ++b) zrt[296 + b] = static_cast<std::uint8_t>("BatLost\0"[b]);
  // The last record of a full report: a word at its very end still counts.
  auto full = report(296, kRecords, [](LegacyRecord&, std::size_t) {});
  std::copy(zrt.begin(), zrt.end(), full.begin());
  for (std::size_t b = 296 * 999; b < 296 * kRecords; ++b) full[b] = 'z';
  const std::string word = "DC_Mode";
  std::copy(word.begin(), word.end(), full.end() - 7);
  put_file("/usr/sav/data/ZrtDataItemReport1.txt", full);
  ASSERT_EQ(convert_lq_history(1, 1), result::ok);
  ASSERT_EQ(convert_zrt_history(2, 1), result::ok);
  auto l = history(1), z = history(2);
  EXPECT_EQ(get(record(l, 0), lq_history::fault_flags), 0x20u);
  EXPECT_EQ(get(record(l, 0), lq_history::model), 3u);
  EXPECT_EQ(get(record(l, 1), lq_history::fault_flags), 0x20u) << "its fault text is at 116, not 0";
  EXPECT_EQ(get(record(z, 0), zrt_history::battery_flags), 0u);
  EXPECT_EQ(get(record(z, 0), zrt_history::state_flags), 0x10u);
  EXPECT_EQ(get(record(z, 999), zrt_history::state_flags), 0x30u);
}

TEST_F(SupplyHistory, BoardsShareTheControllerTimes) {
  ZoneScope utc("UTC0");
  put_moment_reports("LQ", "/mnt/1/cfg/progcfg", 1);
  ASSERT_EQ(convert_lq_history(1, 1), result::ok);
  ASSERT_EQ(convert_lq_history(4, 2), result::ok);
  auto first = history(1), second = history(4);
  for (std::size_t i : {0u, 321u, 999u}) {
    EXPECT_EQ(get_signed(record(first, i), lq_history::reading_time),
              kTenOClock + static_cast<std::int32_t>(i));
    EXPECT_EQ(get(record(second, i), lq_history::reading_time),
              get(record(first, i), lq_history::reading_time));
    EXPECT_EQ(get(record(first, i), lq_history::controller_reading), (i * 100) & 0xFFFF);
    EXPECT_EQ(get(record(second, i), lq_history::controller_reading), (i * 200) & 0xFFFF);
  }
}

TEST_F(SupplyHistory, AFullDeviceConvertsQuickly) {
  ZoneScope utc("UTC0");
  put_moment_reports("LQ", "/mnt/1/cfg/progcfg", 1);
  put_moment_reports("Zrt", "/mnt/1/cfg/zrtprogcfg", 2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(convert_lq_history(1, 1), result::ok);
  EXPECT_EQ(convert_lq_history(2, 2), result::ok);
  EXPECT_EQ(convert_zrt_history(3, 1), result::ok);
  EXPECT_EQ(convert_zrt_history(4, 2), result::ok);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
}

}  // namespace
}  // namespace sav3::testing
