#include "sav3/settings_web.h"

#include <cmath>
#include <limits>

#include "scratch_device.h"

namespace sav3::testing {
namespace {

class WebSettings : public ScratchDevice {
 protected:
  std::vector<std::uint8_t> convert() {
    EXPECT_EQ(convert_web_settings(), result::ok);
    return headed_payload(web::path, web::record_size, 1);
  }
};

TEST_F(WebSettings, AllLegacyFilesMissing) {
  EXPECT_EQ(convert(), std::vector<std::uint8_t>(web::record_size, 0));
}

TEST_F(WebSettings, BlocksAndWordsCopied) {
  LegacyRecord assign(legacy_mcuassign::record_size);
  for (std::size_t i = 0; i < assign.bytes.size(); ++i) assign.u8(i, static_cast<std::uint8_t>(i * 7 + 1));
  assign.text(legacy_mcuassign::first_text, "site A").f32(legacy_mcuassign::duration_hours, 1.5f);
  put_file(legacy_mcuassign::path, assign.bytes);
  LegacyRecord battery(legacy_battery_warning::record_size);
  for (std::size_t i = 0; i < battery.bytes.size(); ++i) battery.u8(i, static_cast<std::uint8_t>(0xFF - i));
  battery.u32(legacy_battery_warning::word, 0xDEADBEEF);
  put_file(legacy_battery_warning::lq_path, battery.bytes);
  put_file(legacy_lock::path,
           LegacyRecord(legacy_lock::record_size).u32(legacy_lock::word, 0x01020304).bytes);
  put_file(legacy_pwmcfg::path,
           LegacyRecord(legacy_pwmcfg::record_size).u32(legacy_pwmcfg::web_word, 0x80000001).bytes);
  put_file(legacy_reportcfg::path, LegacyRecord(legacy_reportcfg::record_size)
                                       .u32(legacy_reportcfg::word, 0xCAFEF00D)
                                       .u8(legacy_reportcfg::byte, 0xA5)
                                       .u32(legacy_reportcfg::count, 250)
                                       .bytes);
  put_file(legacy_remember_user::path, LegacyRecord(4).u32(0, 0x0101).bytes);
  auto rec = convert();

  auto bytes_of = [](const std::vector<std::uint8_t>& v, std::size_t off, std::size_t n) {
    return std::vector<std::uint8_t>(v.begin() + off, v.begin() + off + n);
  };
  EXPECT_EQ(bytes_of(rec, web::assignment_block.offset, 64),
            bytes_of(assign.bytes, legacy_mcuassign::block, 64));
  EXPECT_EQ(bytes_of(rec, web::assignment_text.offset, 60), bytes_of(assign.bytes, 0, 60))
      << "the whole slot, bytes after the text included";
  EXPECT_EQ(bytes_of(rec, web::battery_warning_block.offset, 50),
            bytes_of(battery.bytes, legacy_battery_warning::block, 50));
  EXPECT_EQ(get_signed(rec, web::duration), 5400);
  EXPECT_EQ(get(rec, web::lock_word), 0x01020304u);
  EXPECT_EQ(get(rec, web::pwm_word), 0x80000001u);
  EXPECT_EQ(get(rec, web::battery_warning_word), 0xDEADBEEFu);
  EXPECT_EQ(get_signed(rec, web::capped_count), 250);
  EXPECT_EQ(get(rec, web::remember_user), 1u);
  EXPECT_EQ(get(rec, web::report_word), 0xCAFEF00Du);
  EXPECT_EQ(get(rec, web::report_byte), 0xA5u);
  EXPECT_EQ(rec[219], 250) << "little-endian at an odd offset";
  for (const Field& f : web::fields) {
    if (f.kind != Kind::reserved) continue;
    EXPECT_EQ(bytes_of(rec, f.offset, f.width), std::vector<std::uint8_t>(f.width, 0)) << f.offset;
  }
}

TEST_F(WebSettings, DurationInSeconds) {
  struct Case {
    float hours;
    std::int32_t seconds;
  };
  for (const Case& c : {Case{1.5f, 5400}, Case{0.0001f, 0}, Case{-2.0f, -7200}, Case{-0.0001f, 0},
                        Case{std::nanf(""), 0}, Case{1.0e9f, std::numeric_limits<std::int32_t>::max()},
                        Case{-1.0e9f, std::numeric_limits<std::int32_t>::min()}}) {
    put_file(
        legacy_mcuassign::path,
        LegacyRecord(legacy_mcuassign::record_size).f32(legacy_mcuassign::duration_hours, c.hours).bytes);
    EXPECT_EQ(get_signed(convert(), web::duration), c.seconds) << c.hours;
  }
}

TEST_F(WebSettings, CountCapAndReportInterval) {
  struct Cap {
    std::int32_t legacy, stored;
  };
  for (const Cap& c :
       {Cap{999, 999}, Cap{1000, 1000}, Cap{5000, 1000}, Cap{-5, -5},
        Cap{std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()},
        Cap{std::numeric_limits<std::int32_t>::max(), 1000}}) {
    put_file(legacy_reportcfg::path, LegacyRecord(legacy_reportcfg::record_size)
                                         .u32(legacy_reportcfg::count, static_cast<std::uint32_t>(c.legacy))
                                         .bytes);
    EXPECT_EQ(get_signed(convert(), web::capped_count), c.stored) << c.legacy;
  }
  struct Interval {
    std::int32_t code;
    std::uint32_t seconds;
  };
  for (const Interval& i :
       {Interval{1, 3600}, Interval{8, 28800}, Interval{9, 777600}, Interval{19, 147744000},
        Interval{20, 311040000}, Interval{21, 0}, Interval{0, 0}, Interval{-1, 0}}) {
    put_file(legacy_emailcfg::path,
             LegacyRecord(legacy_emailcfg::record_size)
                 .u32(legacy_emailcfg::report_interval_code, static_cast<std::uint32_t>(i.code))
                 .bytes);
    EXPECT_EQ(get(convert(), web::report_interval), i.seconds) << i.code;
  }
}

TEST_F(WebSettings, EventBitsOneWordAtATime) {
  struct Source {
    bool report;
    std::size_t offset;
    std::size_t byte;
    std::uint8_t mask;
  };
  constexpr Source sources[] = {
      {false, 672, 216, 0x01}, {false, 724, 216, 0x02}, {false, 736, 216, 0x04}, {false, 740, 216, 0x08},
      {false, 728, 216, 0x10}, {false, 732, 216, 0x20}, {false, 664, 217, 0x01}, {false, 668, 217, 0x02},
      {false, 660, 217, 0x04}, {false, 680, 217, 0x08}, {false, 676, 217, 0x10}, {false, 748, 217, 0x20},
      {false, 684, 217, 0x40}, {true, 128, 217, 0x80},  {false, 752, 218, 0x01},
  };
  for (const Source& s : sources) {
    std::filesystem::remove(host(legacy_emailcfg::path));
    std::filesystem::remove(host(legacy_reportcfg::path));
    // 0x100: non-zero with a zero low byte.
    put_file(s.report ? legacy_reportcfg::path : legacy_emailcfg::path,
             LegacyRecord(s.report ? legacy_reportcfg::record_size : legacy_emailcfg::record_size)
                 .u32(s.offset, 0x100)
                 .bytes);
    auto rec = convert();
    for (std::size_t b = 216; b <= 218; ++b)
      EXPECT_EQ(rec[b], b == s.byte ? s.mask : 0) << s.offset << " " << b;
  }
  // All fifteen set; the words the web record does not use set nothing.
  std::filesystem::remove(host(legacy_reportcfg::path));
  LegacyRecord email(legacy_emailcfg::record_size);
  for (std::size_t off : {688u, 696u, 700u, 704u, 708u, 712u, 716u, 720u, 744u}) email.u32(off, 0xFFFFFFFF);
  put_file(legacy_emailcfg::path, email.bytes);
  auto rec = convert();
  EXPECT_EQ(rec[216], 0);
  EXPECT_EQ(rec[217], 0);
  EXPECT_EQ(rec[218], 0);
  for (const Source& s : sources) {
    if (!s.report) email.u32(s.offset, 1);
  }
  put_file(legacy_emailcfg::path, email.bytes);
  put_file(legacy_reportcfg::path,
           LegacyRecord(legacy_reportcfg::record_size).u32(legacy_reportcfg::event_word, 1).bytes);
  rec = convert();
  EXPECT_EQ(rec[216], 0x3F);
  EXPECT_EQ(rec[217], 0xFF);
  EXPECT_EQ(rec[218], 0x01);
}

}  // namespace
}  // namespace sav3::testing
