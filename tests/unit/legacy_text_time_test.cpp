#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

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
  // Equality with a literal: the literal's bytes, then a NUL or the record's end.
  const struct {
    std::size_t off;
    const char* literal;
    bool equal;
  } cases[] = {{0, "ab", true},   {0, "a", false},      {0, "abc", false}, {4, "Acti", true},
               {4, "Act", false}, {4, "Active", false}, {8, "", true},     {9, "", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(text_is(r.bytes, c.off, c.literal), c.equal) << c.off << " " << c.literal;
    if (c.off <= r.bytes.size()) {
      EXPECT_EQ(text_is(r.bytes, c.off, c.literal), text_at(r.bytes, c.off) == c.literal);
    }
  }
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
  constexpr Field level{"level", 3, 2, Kind::s16, 100};
  constexpr Field count{"count", 5, 4, Kind::u32};
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

namespace sav3::testing {
namespace {

// The quick parse against libc's strptime, fields, end and failure alike: on
// texts at the edges of its rules, and on many texts made by changing bytes of
// a valid one (a fixed pseudo-random sequence, the same on every platform).
void expect_same_as_strptime(const std::string& text, int& differences) {
  std::tm ours{};
  std::tm libc{};
  const char* our_end = parse_legacy_time(text.c_str(), ours);
  const char* libc_end = strptime(text.c_str(), "%a %b %d %Y %X", &libc);
  const bool same =
      our_end == libc_end &&
      (libc_end == nullptr ||
       (ours.tm_sec == libc.tm_sec && ours.tm_min == libc.tm_min && ours.tm_hour == libc.tm_hour &&
        ours.tm_mday == libc.tm_mday && ours.tm_mon == libc.tm_mon && ours.tm_year == libc.tm_year &&
        ours.tm_wday == libc.tm_wday && ours.tm_yday == libc.tm_yday && ours.tm_isdst == libc.tm_isdst &&
        ours.tm_gmtoff == libc.tm_gmtoff));
  if (!same && ++differences <= 10) ADD_FAILURE() << "\"" << text << "\"";
}

TEST(LegacyTimeParse, SameAsStrptime) {
  static const char* const texts[] = {
      "Mon Jan 05 2015 10:20:30",
      "monday JANUARY 5 2015 1:2:3",
      "Mond Jan 05 2015 10:20:30",
      " Mon Jan 05 2015 10:20:30",
      "Mon\t\n\v\f\rJan05 2015 10:20:30x",
      "Wednesday Sept 05 2015 10:20:30",
      "Thu Feb 31 2016 23:59:61",
      "Thu Feb 32 2016 23:59:59",
      "Thu Feb 0 2016 23:59:59",
      "Thu Feb 1 99999 23:59:59",
      "Thu Feb 1 0 23:59:59",
      "Thu Feb 1 -5 23:59:59",
      "Thu Feb 145 23:59:59",
      "Thu Feb 1 2016 24:00:00",
      "Thu Feb 1 2016 2:60:00",
      "Thu Feb 1 2016 2:6:62",
      "Thu Feb 1 2016 2: 6: 7",
      "Thu Feb 1 2016 2 :6:7",
      "Thu May 1 2016 12:00",
      "Sat Dec 31 2000 23:59:59",
      "Sun Dec 31 1900 00:00:00",
      "Tue Feb 29 2100 00:00:00",
      "Tue Feb 29 2400 00:00:00",
      "Fri Jul 04 1776 12:00:00",
      "",
      "M",
      "Sun",
      // libc tries the days in order and moves on past each abbreviation it
      // meets: a later day may follow, the longest match wins.
      "MonWed Sep 05 2015 10:20:30",
      "SunMonTueWed Jan 05 2015 10:20:30",
      "sunMONDAY Jan 05 2015 10:20:30",
      "SunSat Jan 05 2015 10:20:30",
      "WedMon Jan 05 2015 10:20:30",
      "MondayTue Jan 05 2015 10:20:30",
      "MonSep 05 2015 10:20:30",
  };
  int differences = 0;
  for (const char* text : texts) expect_same_as_strptime(text, differences);

  static const char alphabet[] = " \t0123456789:-+aAbBdDeEfFjJlLmMnNoOpPrRsStTuUvVwWyYxX\xe9";
  std::uint32_t state = 12345;
  auto next = [&state] { return state = state * 1103515245u + 12345u, state >> 8; };
  for (int i = 0; i < 200000; ++i) {
    std::string text = "Wednesday September 05 2015 10:20:30";
    if (i % 2 == 0) text = "Wed Sep 5 2015 10:20:30";
    const int changes = 1 + static_cast<int>(next() % 4);
    for (int k = 0; k < changes; ++k) {
      const std::size_t at = next() % (text.size() + 1);
      const char c = alphabet[next() % (sizeof alphabet - 1)];
      switch (next() % 3) {
        case 0:
          if (at < text.size()) text[at] = c;
          break;
        case 1: text.insert(at, 1, c); break;
        default:
          if (at < text.size()) text.erase(at, 1);
          break;
      }
    }
    expect_same_as_strptime(text, differences);
  }
  EXPECT_EQ(differences, 0);
}

// Wall-clock times around the changes of UTC offset, with the instants they
// name, written from `zdump -v` of the zone database: a time shown twice is the
// earlier instant, a skipped time is read with the offset before the change.
struct ZoneCase {
  const char* zone;
  const char* text;
  std::int32_t utc;  // expected seconds (the UTC time in the comment)
};
constexpr ZoneCase zone_cases[] = {
    // Central Europe: clocks back 03:00 -> 02:00 on 25 Oct 2009 (01:00 UT).
    {"Europe/Berlin", "Sun Oct 25 2009 01:59:59", 1256428799},  // 24 Oct 23:59:59 UT
    {"Europe/Berlin", "Sun Oct 25 2009 02:00:00", 1256428800},  // 00:00:00 UT, summer time
    {"Europe/Berlin", "Sun Oct 25 2009 02:46:21", 1256431581},  // 00:46:21 UT, summer time
    {"Europe/Berlin", "Sun Oct 25 2009 02:59:59", 1256432399},  // 00:59:59 UT
    {"Europe/Berlin", "Sun Oct 25 2009 01:59:60", 1256428800},  // second 60: 02:00:00, shown twice
    {"Europe/Berlin", "Sun Oct 25 2009 02:59:60", 1256436000},  // second 60: 03:00:00, 02:00:00 UT
    {"Europe/Berlin", "Sun Oct 25 2009 03:00:00", 1256436000},  // 02:00:00 UT
    // Forward 02:00 -> 03:00 on 29 Mar 2009 (01:00 UT).
    {"Europe/Berlin", "Sun Mar 29 2009 01:59:59", 1238288399},  // 00:59:59 UT
    {"Europe/Berlin", "Sun Mar 29 2009 02:00:00", 1238288400},  // skipped: 01:00:00 UT
    {"Europe/Berlin", "Sun Mar 29 2009 02:30:00", 1238290200},  // skipped: 01:30:00 UT
    {"Europe/Berlin", "Sun Mar 29 2009 03:00:00", 1238288400},  // 01:00:00 UT
    {"Europe/Berlin", "Tue Feb 31 2009 12:00:00", 1236078000},  // day 31 of February: 3 Mar 11:00 UT
    // New York: forward 02:00 -> 03:00 on 14 Mar 2021, back 02:00 -> 01:00 on 7 Nov.
    {"America/New_York", "Sun Mar 14 2021 01:59:59", 1615705199},  // 06:59:59 UT
    {"America/New_York", "Sun Mar 14 2021 02:30:00", 1615707000},  // skipped: 07:30:00 UT
    {"America/New_York", "Sun Mar 14 2021 03:00:00", 1615705200},  // 07:00:00 UT
    {"America/New_York", "Sun Nov 07 2021 00:59:59", 1636261199},  // 04:59:59 UT
    {"America/New_York", "Sun Nov 07 2021 01:30:00", 1636263000},  // 05:30:00 UT, daylight time
    {"America/New_York", "Sun Nov 07 2021 02:00:00", 1636268400},  // 07:00:00 UT
    // Lord Howe Island shifts by 30 minutes: back 02:00 -> 01:30 on 5 Apr
    // 2020, forward 02:00 -> 02:30 on 4 Oct 2020.
    {"Australia/Lord_Howe", "Sun Apr 05 2020 01:29:59", 1586010599},  // 4 Apr 14:29:59 UT
    {"Australia/Lord_Howe", "Sun Apr 05 2020 01:45:00", 1586011500},  // 14:45:00 UT, +11
    {"Australia/Lord_Howe", "Sun Apr 05 2020 02:00:00", 1586014200},  // 15:30:00 UT, +10:30
    {"Australia/Lord_Howe", "Sun Oct 04 2020 01:59:59", 1601738999},  // 3 Oct 15:29:59 UT
    {"Australia/Lord_Howe", "Sun Oct 04 2020 02:15:00", 1601739900},  // skipped: 15:45:00 UT, +10:30
    {"Australia/Lord_Howe", "Sun Oct 04 2020 02:30:00", 1601739000},  // 15:30:00 UT
    // Sao Paulo changed at midnight: forward 00:00 -> 01:00 on 4 Nov 2018,
    // back 00:00 -> 23:00 on 16/17 Feb 2019.
    {"America/Sao_Paulo", "Sat Nov 03 2018 23:59:59", 1541300399},  // 4 Nov 02:59:59 UT
    {"America/Sao_Paulo", "Sun Nov 04 2018 00:30:00", 1541302200},  // skipped: 03:30:00 UT
    {"America/Sao_Paulo", "Sun Nov 04 2018 01:00:00", 1541300400},  // 03:00:00 UT
    {"America/Sao_Paulo", "Sat Feb 16 2019 22:59:59", 1550365199},  // 17 Feb 00:59:59 UT
    {"America/Sao_Paulo", "Sat Feb 16 2019 23:30:00", 1550367000},  // 17 Feb 01:30:00 UT, -02
    {"America/Sao_Paulo", "Sun Feb 17 2019 00:00:00", 1550372400},  // 03:00:00 UT
    // Samoa skipped the whole of 30 Dec 2011 (-10 -> +14 at 10:00 UT), both
    // sides flagged as daylight time; earlier it set its clock back on 2 Apr.
    {"Pacific/Apia", "Sat Apr 02 2011 03:30:00", 1301751000},  // 13:30:00 UT, -10
    {"Pacific/Apia", "Thu Dec 29 2011 23:59:59", 1325239199},  // 30 Dec 09:59:59 UT
    {"Pacific/Apia", "Fri Dec 30 2011 00:00:00", 1325239200},  // skipped: 10:00:00 UT, -10
    {"Pacific/Apia", "Fri Dec 30 2011 12:00:00", 1325282400},  // skipped: 22:00:00 UT, -10
    {"Pacific/Apia", "Sat Dec 31 2011 00:00:00", 1325239200},  // 30 Dec 10:00:00 UT
    {"Pacific/Apia", "Sat Dec 31 2011 23:59:59", 1325325599},  // 31 Dec 09:59:59 UT
};

TEST(LegacyTimeZones, TimesAroundChangesOfOffset) {
  for (const ZoneCase& c : zone_cases) {
    ZoneScope zone(c.zone);
    EXPECT_EQ(legacy_time_seconds(c.text), c.utc) << c.zone << " " << c.text;
  }
}

// One change of UTC offset of the zone database (zone_changes.txt).
struct ZoneChange {
  std::string zone;
  long long at;  // first second of the new offset, UTC
  long long before, after;
};

std::vector<ZoneChange> zone_changes() {
  std::vector<ZoneChange> changes;
  std::FILE* f = std::fopen(SAV3_ZONE_CHANGES, "r");
  if (f == nullptr) return changes;
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    char zone[64];
    ZoneChange c;
    if (line[0] == '#' || std::sscanf(line, "%63s %lld %lld %lld", zone, &c.at, &c.before, &c.after) != 4)
      continue;
    c.zone = zone;
    changes.push_back(c);
  }
  std::fclose(f);
  return changes;
}

// The instant a wall-clock time (seconds on a clock without zone) names next
// to one change: the earlier of the fitting readings, or the offset before the
// change where none fits.
long long expected_instant(const ZoneChange& c, long long wall) {
  const bool before_fits = wall - c.before < c.at;
  const bool after_fits = wall - c.after >= c.at;
  if (before_fits || !after_fits) return wall - c.before;
  return wall - c.after;
}

std::string wall_text(long long wall) {
  const auto t = static_cast<std::time_t>(wall);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%a %b %d %Y %H:%M:%S", &tm);
  return text;
}

// Around every change of the five zones from 2000 to 2030: wall-clock times
// from two hours before the first affected one to two hours after the last,
// every 10 minutes and at each edge, converted in forward and in reverse order.
TEST(LegacyTimeZones, EveryChangeFrom2000To2030InEitherOrder) {
  const std::vector<ZoneChange> changes = zone_changes();
  ASSERT_GE(changes.size(), 200u) << SAV3_ZONE_CHANGES;
  std::size_t first = 0;
  while (first < changes.size()) {
    std::size_t end = first;
    while (end < changes.size() && changes[end].zone == changes[first].zone) ++end;
    ZoneScope zone(changes[first].zone.c_str());
    std::vector<std::pair<std::string, long long>> cases;
    for (std::size_t i = first; i < end; ++i) {
      const ZoneChange& c = changes[i];
      const long long low = c.at + std::min(c.before, c.after);
      const long long high = c.at + std::max(c.before, c.after);
      for (long long wall = low - 7200; wall <= high + 7200; wall += 600)
        cases.emplace_back(wall_text(wall), expected_instant(c, wall));
      for (const long long edge : {low - 1, low, high - 1, high})
        cases.emplace_back(wall_text(edge), expected_instant(c, edge));
    }
    int wrong = 0;
    for (int order = 0; order < 2; ++order) {
      forget_legacy_times();
      for (std::size_t k = 0; k < cases.size(); ++k) {
        const auto& [text, utc] = order == 0 ? cases[k] : cases[cases.size() - 1 - k];
        if (legacy_time_seconds(text) != utc && ++wrong <= 5)
          ADD_FAILURE() << changes[first].zone << " " << text << (order == 0 ? " forward" : " reverse")
                        << ": expected " << utc;
      }
    }
    EXPECT_EQ(wrong, 0) << changes[first].zone << ", " << cases.size() << " texts";
    first = end;
  }
}

}  // namespace
}  // namespace sav3::testing
