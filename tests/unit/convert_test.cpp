#include "sav3/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sav3/crc32.h"

namespace sav3 {
namespace {

TEST(ScaledReadings, UnsignedAtEachWidth) {
  EXPECT_EQ(static_cast<std::uint16_t>(scaled_unsigned(655.35f, 100.0f)), 65534);  // single precision
  EXPECT_EQ(static_cast<std::uint16_t>(scaled_unsigned(655.36f, 100.0f)), 0);      // 65536 wraps
  EXPECT_EQ(static_cast<std::uint8_t>(scaled_unsigned(25.5f, 10.0f)), 255);
  EXPECT_EQ(static_cast<std::uint8_t>(scaled_unsigned(25.6f, 10.0f)), 0);  // 256 wraps
  EXPECT_EQ(scaled_unsigned(-1.0f, 10.0f), 0u);
  EXPECT_EQ(scaled_unsigned(-0.001f, 100.0f), 0u);
  EXPECT_EQ(scaled_unsigned(std::numeric_limits<float>::quiet_NaN(), 100.0f), 0u);
  EXPECT_EQ(scaled_unsigned(1e20f, 1.0f), 0xFFFFFFFFu);
  EXPECT_EQ(scaled_unsigned(std::numeric_limits<float>::infinity(), 1.0f), 0xFFFFFFFFu);
  EXPECT_EQ(scaled_unsigned(1.0f, 3600.0f), 3600u);
  EXPECT_EQ(scaled_unsigned(1.0f, 31536000.0f), 31536000u);
  EXPECT_EQ(scaled_unsigned(4294967040.0f, 1.0f), 4294967040u);  // largest float below 2^32
  EXPECT_EQ(scaled_unsigned(4294967296.0f, 1.0f), 0xFFFFFFFFu);
}

TEST(ScaledReadings, SignedAtEachWidth) {
  EXPECT_EQ(static_cast<std::int16_t>(scaled_signed(327.68f, 100.0f)), -32768);
  EXPECT_EQ(static_cast<std::int16_t>(scaled_signed(-1.234f, 100.0f)), -123);
  EXPECT_EQ(static_cast<std::uint16_t>(scaled_signed(-2.5f, 100.0f)), 0xFF06);
  EXPECT_EQ(static_cast<std::uint16_t>(scaled_signed(-1.5f, 100.0f)), 0xFF6A);
  EXPECT_EQ(static_cast<std::int8_t>(scaled_signed(-12.8f, 10.0f)), -128);
  EXPECT_EQ(scaled_signed(std::numeric_limits<float>::quiet_NaN(), 100.0f), 0);
  EXPECT_EQ(static_cast<std::uint32_t>(scaled_signed(1e20f, 1.0f)), 0x7FFFFFFFu);
  EXPECT_EQ(static_cast<std::uint32_t>(scaled_signed(-1e20f, 1.0f)), 0x80000000u);
  EXPECT_EQ(scaled_signed(-2147483648.0f, 1.0f), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(scaled_signed(2147483520.0f, 1.0f), 2147483520);  // largest float below 2^31
  EXPECT_EQ(scaled_signed(-std::numeric_limits<float>::infinity(), 1.0f),
            std::numeric_limits<std::int32_t>::min());
}

TEST(ScaledReadings, TruncateTowardZero) {
  EXPECT_EQ(scaled_signed(-0.999f, 1.0f), 0);
  EXPECT_EQ(scaled_signed(-1.999f, 1.0f), -1);
  EXPECT_EQ(scaled_unsigned(1.999f, 1.0f), 1u);
}

TEST(WrappingSeconds, HoursAndDays) {
  EXPECT_EQ(hours_to_seconds(2), 7200u);
  EXPECT_EQ(hours_to_seconds(1193047), 1193047u * 3600u);  // wraps past 2^32
  EXPECT_EQ(hours_to_seconds(0xFFFFFFFFu), 0xFFFFFFFFu * 3600u);
  EXPECT_EQ(days_to_seconds(49710), 4294944000u);
  EXPECT_EQ(days_to_seconds(49711), 49711u * 86400u);  // 4295030400 mod 2^32 = 63104
  EXPECT_EQ(days_to_seconds(49711), 63104u);
}

TEST(Hundredths, ToFloat) {
  EXPECT_EQ(hundredths_to_float(250), 2.5f);
  EXPECT_EQ(hundredths_to_float(-5), -0.05f);
  EXPECT_EQ(hundredths_to_float(1), 0.01f);
  EXPECT_EQ(hundredths_to_float(0), 0.0f);
  EXPECT_EQ(hundredths_to_float(2147483647), static_cast<float>(21474836.47));
}

TEST(ReportInterval, Table) {
  EXPECT_EQ(report_interval_seconds(0), 0u);
  EXPECT_EQ(report_interval_seconds(1), 3600u);
  EXPECT_EQ(report_interval_seconds(8), 28800u);
  EXPECT_EQ(report_interval_seconds(9), 777600u);
  EXPECT_EQ(report_interval_seconds(14), 1209600u);
  EXPECT_EQ(report_interval_seconds(15), 9072000u);
  EXPECT_EQ(report_interval_seconds(18), 10886400u);
  EXPECT_EQ(report_interval_seconds(19), 147744000u);
  EXPECT_EQ(report_interval_seconds(20), 311040000u);
  EXPECT_EQ(report_interval_seconds(21), 0u);
  EXPECT_EQ(report_interval_seconds(0xFFFFFFFFu), 0u);
}

TEST(NumberText, ReadsLikeThe32BitTarget) {
  EXPECT_EQ(parse_long32("161"), 161);
  EXPECT_EQ(parse_long32("  -42xyz"), -42);
  EXPECT_EQ(parse_long32("+7"), 7);
  EXPECT_EQ(parse_long32("abc"), 0);
  EXPECT_EQ(parse_long32(""), 0);
  EXPECT_EQ(parse_long32("2147483647"), 2147483647);
  EXPECT_EQ(parse_long32("2147483648"), 2147483647);  // saturates, even where long has 64 bits
  EXPECT_EQ(parse_long32("99999999999999999999999"), 2147483647);
  EXPECT_EQ(parse_long32("-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(parse_long32("-2147483649"), std::numeric_limits<std::int32_t>::min());
  std::size_t used = 99;
  EXPECT_EQ(parse_long32(" 12 ", &used), 12);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(parse_long32("-", &used), 0);
  EXPECT_EQ(used, 0u);
}

// CRC-32 check values of the IEEE polynomial (zlib's crc32, `cksum -a crc32b`).
TEST(Crc32, KnownValuesAndContinuation) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc32(ConstBytes{}), 0u);
  EXPECT_EQ(crc32(digits), 0xCBF43926u);
  const std::uint8_t a[] = {'a'};
  EXPECT_EQ(crc32(a), 0xE8B7BE43u);
  EXPECT_EQ(crc32(ConstBytes(digits).subspan(4), crc32(ConstBytes(digits).first(4))), 0xCBF43926u);
}

}  // namespace
}  // namespace sav3
