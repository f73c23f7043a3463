#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "sav3/layout.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

TEST(LegacyText, BoundedToItsRecord) {
  LegacyRecord r(8);
  r.raw(4, "Acti");  // runs into the end of the record without NUL
  EXPECT_EQ(text_at(r.bytes, 4), "Acti");
  EXPECT_EQ(text_at(r.bytes, 8), "");
  EXPECT_EQ(text_at(r.bytes, 100), "");
  r.text(0, "ab");
  EXPECT_EQ(text_at(r.bytes, 0), "ab");
}

TEST(LegacyText, ShortAnswersNeedTheirNul) {
  LegacyRecord r(16);
  r.text(0, "Yes");
  EXPECT_TRUE(answer_is(r.bytes, 0, "Yes"));
  r.text(0, "Yes ");
  EXPECT_FALSE(answer_is(r.bytes, 0, "Yes"));
  r.text(0, "yes");
  EXPECT_FALSE(answer_is(r.bytes, 0, "Yes"));
  r.text(0, "ON");
  EXPECT_TRUE(answer_is(r.bytes, 0, "ON"));
  r.text(0, "ONE");
  EXPECT_FALSE(answer_is(r.bytes, 0, "ON"));
  r.raw(13, "Yes");  // at the very end, no room for the NUL
  EXPECT_FALSE(answer_is(r.bytes, 13, "Yes"));
  EXPECT_FALSE(answer_is(r.bytes, 14, "No"));
}

TEST(LegacyText, SubstringAndCopy) {
  LegacyRecord r(12);
  r.raw(0, "XXChargeFlt!");  // no NUL anywhere
  EXPECT_TRUE(text_contains(text_at(r.bytes, 0), "ChargeFlt"));
  EXPECT_FALSE(text_contains(text_at(r.bytes, 0), "Flt!!"));

  std::uint8_t out[6];
  std::fill(std::begin(out), std::end(out), 0xEE);
  put_text(out, 1, 4, "abcdef");  // cut at the field width, no terminator
  EXPECT_EQ((std::vector<std::uint8_t>(out, out + 6)),
            (std::vector<std::uint8_t>{0xEE, 'a', 'b', 'c', 'd', 0xEE}));
  put_text(out, 1, 4, "ab");
  EXPECT_EQ((std::vector<std::uint8_t>(out, out + 6)),
            (std::vector<std::uint8_t>{0xEE, 'a', 'b', 0, 0, 0xEE}));
  EXPECT_EQ(without_newline("host\n"), "host");
  EXPECT_EQ(without_newline("host\n\n"), "host\n");
  char line[8] = {'a', 'b', '\0', 'j', 'u', 'n', 'k', '\0'};
  EXPECT_EQ(text_in(line, sizeof line), "ab");
}

TEST(LegacyText, ScannedWordsNeverSpill) {
  const std::string long_name(200, 'a');
  const std::string line = "  " + long_name + "\tadmin  x\n";
  std::string_view rest = line;
  char word[128];
  ASSERT_TRUE(scan_word(rest, word));
  EXPECT_EQ(std::string(word), std::string(127, 'a'));
  ASSERT_TRUE(scan_word(rest, word));
  EXPECT_EQ(std::string(word), "admin");
  ASSERT_TRUE(scan_word(rest, word));
  EXPECT_EQ(std::string(word), "x");
  EXPECT_FALSE(scan_word(rest, word));
  EXPECT_EQ(std::string(word), "");
}

using LegacyTextFile = ScratchDevice;

TEST_F(LegacyTextFile, LongLinesArriveOverSeveralReads) {
  const std::string long_line(130, 'x');
  const std::string text = "ab\n" + long_line + std::string("\nc\0junk\nlast", 12);
  put_text_file("/mnt/1/cfg/lines", text);
  std::FILE* f = open_device_file("/mnt/1/cfg/lines", "r");
  ASSERT_NE(f, nullptr);
  char line[128];
  ASSERT_TRUE(read_line(f, line));
  EXPECT_EQ(text_in(line, sizeof line), "ab\n");
  ASSERT_TRUE(read_line(f, line));
  EXPECT_EQ(text_in(line, sizeof line), std::string(127, 'x'));
  ASSERT_TRUE(read_line(f, line));
  EXPECT_EQ(text_in(line, sizeof line), "xxx\n");
  ASSERT_TRUE(read_line(f, line));
  EXPECT_EQ(text_in(line, sizeof line), "c") << "a line ends at its first NUL";
  EXPECT_EQ(line[5], 'k') << "the bytes behind the NUL were read";
  ASSERT_TRUE(read_line(f, line));
  EXPECT_EQ(text_in(line, sizeof line), "last");
  EXPECT_FALSE(read_line(f, line));
  EXPECT_EQ(std::string(line, sizeof line), std::string(sizeof line, '\0')) << "cleared at end of file";
  std::fclose(f);
  EXPECT_FALSE(read_line(nullptr, line));
}

TEST(LegacyTime, UtcExample) {
  ZoneScope zone("UTC0");
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30"), 1420453230);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30 and more"), 1420453230);
  EXPECT_EQ(legacy_time_seconds("Thu Jan 01 1970 00:00:00"), 0);
  EXPECT_EQ(legacy_time_seconds("Wed Dec 31 1969 23:59:59"), -1);  // a genuine -1 is kept
}

// A blank in the format matches a run of blanks of any length: a timestamp
// padded with many blanks parses as strptime reads the whole record.
TEST(LegacyTime, LongBlankRunsInsideTheTextStillParse) {
  ZoneScope zone("UTC0");
  const std::string padded =
      "Mon" + std::string(100, ' ') + "Jan 05 2015" + std::string(100, ' ') + "10:20:30";
  EXPECT_EQ(legacy_time_seconds(padded), 1420453230);
}

TEST(LegacyTime, UnparsableAndOutOfRangeGiveZero) {
  ZoneScope zone("UTC0");
  EXPECT_EQ(legacy_time_seconds(""), 0);
  EXPECT_EQ(legacy_time_seconds("2015-01-05 10:20:30"), 0);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015"), 0);
  EXPECT_EQ(legacy_time_seconds("Tue Jan 19 2038 03:14:07"), 2147483647);
  EXPECT_EQ(legacy_time_seconds("Tue Jan 19 2038 03:14:08"), 0);  // past the 32-bit range
  EXPECT_EQ(legacy_time_seconds("Fri Jan 01 2100 00:00:00"), 0);
}

TEST(LegacyTime, SummerTimeGetsTheSummerOffset) {
  ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
  // 12:00 local in July is 10:00 UTC; in January 11:00 UTC.
  EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), 1435744800);
  EXPECT_EQ(legacy_time_seconds("Thu Jan 01 2015 12:00:00"), 1420110000);
  // A parse after a summer parse is not influenced by it.
  EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), 1435744800);
  EXPECT_EQ(legacy_time_seconds("Thu Jan 01 2015 12:00:00"), 1420110000);
}

TEST(Layout, PutAndGetByField) {
  constexpr Field year{"year", 1, 2, Kind::u16be};
  constexpr Field level{"level", 3, 2, Kind::s8, 100};
  constexpr Field count{"count", 5, 4, Kind::u8};
  constexpr Field flags{"flags", 0, 1, Kind::flags};
  std::uint8_t rec[9] = {};
  put(rec, year, 2025);
  EXPECT_EQ(rec[1], 0x07);
  EXPECT_EQ(rec[2], 0xE9);
  put(rec, level, static_cast<std::uint32_t>(-250));
  EXPECT_EQ(get_signed(rec, level), -250);
  put(rec, count, 0x01020304);
  EXPECT_EQ(rec[5], 0x04);
  EXPECT_EQ(get(rec, count), 0x01020304u);
  set_bit_if(rec, flags, 0, true);
  set_bit_if(rec, flags, 3, true);
  set_bit_if(rec, flags, 5, false);
  EXPECT_EQ(rec[0], 0x09);
  EXPECT_EQ(get(rec, year), 2025u);
}

TEST(Layout, FieldArraysAndByteMoves) {
  constexpr auto entries = field_array<3>("entry", 10, 8, 4, Kind::text);
  EXPECT_EQ(entries[0].offset, 10);
  EXPECT_EQ(entries[2].offset, 26);
  EXPECT_EQ(entries[2].width, 4);

  LegacyRecord legacy(6);
  legacy.raw(0, std::string("ab\0cde", 6));
  std::uint8_t rec[8] = {};
  put_bytes(rec, Field{"block", 1, 4, Kind::bytes}, legacy.bytes, 1);  // the NUL and what follows move too
  EXPECT_EQ((std::vector<std::uint8_t>(rec, rec + 8)),
            (std::vector<std::uint8_t>{0, 'b', 0, 'c', 'd', 0, 0, 0}));
  put_bytes(rec, Field{"tail", 5, 3, Kind::bytes}, legacy.bytes, 4);  // clipped to the legacy record
  EXPECT_EQ((std::vector<std::uint8_t>(rec + 5, rec + 8)), (std::vector<std::uint8_t>{'d', 'e', 0}));
}

// The same conversion without anything remembered, in UTC: what every call
// must give there.
std::int32_t utc_reference_seconds(const char* text) {
  std::tm tm{};
  if (strptime(text, "%a %b %d %Y %X", &tm) == nullptr) return 0;
  const std::time_t t = timegm(&tm);
  if (t < INT32_MIN || t > INT32_MAX) return 0;
  return static_cast<std::int32_t>(t);
}

TEST(LegacyTime, RepeatedTextFollowsAChangeOfZone) {
  {
    ZoneScope zone("UTC0");
    EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), 1435752000);
    EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), 1435752000);
  }
  {
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), 1435744800);  // summer offset, not UTC's
  }
  {
    ZoneScope zone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), 1435766400);
  }
}

TEST(LegacyTime, TextsThatDifferInOneByteOrInTheirTailAreKeptApart) {
  ZoneScope zone("UTC0");
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30"), 1420453230);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:31"), 1420453231);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:3"), 1420453203);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30x"), 1420453230);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30 and some more trailing text"), 1420453230);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30 and some more trailing texT"), 1420453230);
  EXPECT_EQ(legacy_time_seconds(std::string_view("Mon Jan 05 2015\0 10:20:30", 25)), 0);  // ends at its NUL
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30"), 1420453230);
  // A text that failed once fails again, and its neighbours are untouched.
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:2x:30"), 0);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:2x:30"), 0);
  EXPECT_EQ(legacy_time_seconds("Mon Jan 05 2015 10:20:30"), 1420453230);
}

TEST(LegacyTime, ManyMoreTextsThanRememberedStayExact) {
  ZoneScope zone("UTC0");
  // Three passes over 5000 distinct times (more than are remembered): every
  // answer equals the plain conversion.
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int mismatches = 0;
  for (int pass = 0; pass < 3; ++pass) {
    for (int i = 0; i < 5000; ++i) {
      char text[40];
      std::snprintf(text, sizeof text, "%s %s %02d %d %02d:%02d:%02d", days[i % 7], months[(i / 7) % 12],
                    1 + i % 31, 2010 + i % 20, i % 24, (i * 7) % 60, (i * 13) % 61);
      if (legacy_time_seconds(text) != utc_reference_seconds(text)) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace sav3::testing
