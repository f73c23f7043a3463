#include "sav3/legacy_time.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"

namespace sav3 {

// Times past 2038 must not wrap on the 32-bit target: the build gives every
// target a 64-bit time_t, and a build that lost the flags stops here.
static_assert(sizeof(std::time_t) == 8, "time_t must be 64 bits (-D_TIME_BITS=64)");

namespace {

// Days from 1970-01-01 to the first of the month (month 1..12 of the proleptic
// Gregorian calendar); any year.
long long days_from_civil(long long y, unsigned m) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The wall-clock fields as seconds on a clock without zone: days past the end
// of a month and second 60 run on into the next ones, as mktime normalises.
long long wall_clock_seconds(const std::tm& tm) {
  const long long year = 1900LL + tm.tm_year + tm.tm_mon / 12;
  const int month = tm.tm_mon % 12;
  const long long days = days_from_civil(year, static_cast<unsigned>(month) + 1) + (tm.tm_mday - 1);
  return days * 86400 + tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
}

// The zone's UTC offset at an instant; false when libc cannot tell.
bool utc_offset(long long instant, long long& offset) {
  const auto t = static_cast<std::time_t>(instant);
  std::tm local;
  if (localtime_r(&t, &local) == nullptr) return false;
  offset = local.tm_gmtoff;
  return true;
}

// The offsets at the start of whole days, remembered: the hourly report times
// of one day share them.
struct DayOffset {
  long long day;
  long long offset;
  bool known;
};
constexpr std::size_t day_slots = 64;
DayOffset g_day_offsets[day_slots];

bool offset_at_day(long long day, long long& offset) {
  DayOffset& e = g_day_offsets[static_cast<std::size_t>(day) % day_slots];
  if (e.known && e.day == day) {
    offset = e.offset;
    return true;
  }
  if (!utc_offset(day * 86400, offset)) return false;
  e = DayOffset{day, offset, true};
  return true;
}

long long floor_div(long long a, long long b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

// The instant that a wall-clock time names in the device's zone, from UTC
// offsets only (the daylight flag says nothing about the offset: some zones
// flag their winter time as daylight time).
//
// An instant t shows the wall clock `wall` when t + offset(t) == wall. Zone
// offsets lie within a day, so every such t lies between the starts of the day
// before and of the day after next (counted on the wall clock); the offsets in
// force there, before and after, are the candidates.
// - One candidate fits (the usual case): that instant.
// - Both fit (the clock was set back and shows the time twice): the earlier.
// - None fits (the clock was set forward over the time): the time is read with
//   the offset in force before the change.
// This holds for shifts of any size (half an hour, a whole skipped day) as long
// as the zone does not change its offset twice within those three days.
bool local_instant(long long wall, long long& instant) {
  const long long day = floor_div(wall, 86400);
  long long before = 0;
  long long after = 0;
  if (!offset_at_day(day - 1, before) || !offset_at_day(day + 2, after)) return false;
  long long at = 0;
  if (before == after) {
    if (!utc_offset(wall - before, at)) return false;
    if (at == before) {
      instant = wall - before;
      return true;
    }
  }
  long long earliest = 0;
  bool found = false;
  for (const long long offset : {before, after}) {
    if (!utc_offset(wall - offset, at)) return false;
    if (at == offset && (!found || wall - offset < earliest)) {
      earliest = wall - offset;
      found = true;
    }
  }
  if (found) {
    instant = earliest;
    return true;
  }
  // Skipped: the offset before the change is the one in force just before the
  // earlier of the two readings.
  const long long larger = before > after ? before : after;
  if (!utc_offset(wall - larger, at)) return false;
  instant = wall - at;
  return true;
}

// The parse of "%a %b %d %Y %X" as libc's strptime does it in the C locale
// (the tool never sets a locale), without its cost: strptime tries every
// weekday and month name, full, abbreviated and alternative, each through
// strncasecmp and strlen.
//
// strptime's rules, step by step: a name matches case-insensitively and the
// longest matching name wins (the full name over its abbreviation; the day of
// the week has a twist, see after_weekday_name); a blank in the format skips
// any run of white space, and so does every number before its digits; a number
// takes at most its width in digits and stops early when one more digit would
// pass its largest value; ':' must be there. The day of the week is the one
// the text names; the day of the year follows from the month and the day (day
// 31 of any month included).
constexpr const char* weekday_names[7][2] = {{"sunday", "sun"},    {"monday", "mon"},   {"tuesday", "tue"},
                                             {"wednesday", "wed"}, {"thursday", "thu"}, {"friday", "fri"},
                                             {"saturday", "sat"}};
constexpr const char* month_names[12][2] = {{"january", "jan"}, {"february", "feb"}, {"march", "mar"},
                                            {"april", "apr"},   {"may", "may"},      {"june", "jun"},
                                            {"july", "jul"},    {"august", "aug"},   {"september", "sep"},
                                            {"october", "oct"}, {"november", "nov"}, {"december", "dec"}};
constexpr int days_before_month[2][12] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
                                          {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// After `name` (lower case) at p, ignoring case; nullptr when it is not there.
const char* after_name(const char* p, const char* name) {
  for (; *name != '\0'; ++name, ++p) {
    const char c = *p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p;
    if (c != *name) return nullptr;
  }
  return p;
}

// The month: the longest of the names at p (the full name over its
// abbreviation; no name begins another month's); its index and the text after
// it.
const char* after_month_name(const char* p, int& index) {
  for (std::size_t i = 0; i < 12; ++i) {
    for (const char* name : month_names[i]) {
      if (const char* end = after_name(p, name)) {
        index = static_cast<int>(i);
        return end;
      }
    }
  }
  return nullptr;
}

// The day of the week, as libc scans for it: the days are tried in order,
// Sunday first, and after a day whose abbreviation matches, the later days
// are tried where that abbreviation ends (libc moves its position there while
// testing the abbreviation); the match that ends furthest wins. So "MonWed"
// reads as Wednesday and the parse goes on after "Wed", while "Monday" is
// Monday (no later day matches "day").
const char* after_weekday_name(const char* p, int& index) {
  const char* longest = nullptr;
  for (std::size_t i = 0; i < 7; ++i) {
    for (const char* name : weekday_names[i]) {
      const char* end = after_name(p, name);
      if (end != nullptr && (longest == nullptr || end > longest)) {
        longest = end;
        index = static_cast<int>(i);
      }
    }
    if (const char* end = after_name(p, weekday_names[i][1])) p = end;
  }
  return longest;
}

const char* after_number(const char* p, int largest, int digits, int smallest, int& value) {
  while (is_blank(*p)) ++p;
  if (*p < '0' || *p > '9') return nullptr;
  value = 0;
  do {
    value = value * 10 + (*p++ - '0');
  } while (--digits > 0 && value * 10 <= largest && *p >= '0' && *p <= '9');
  return value < smallest || value > largest ? nullptr : p;
}

const char* after_blanks(const char* p) {
  while (is_blank(*p)) ++p;
  return p;
}

}  // namespace

const char* parse_legacy_time(const char* text, std::tm& tm) {
  int wday = 0;
  int mon = 0;
  int mday = 0;
  int year = 0;
  int hour = 0;
  int min = 0;
  int sec = 0;
  const char* p = after_weekday_name(text, wday);
  if (p != nullptr) p = after_month_name(after_blanks(p), mon);
  if (p != nullptr) p = after_number(after_blanks(p), 31, 2, 1, mday);
  if (p != nullptr) p = after_number(after_blanks(p), 9999, 4, 0, year);
  if (p != nullptr) p = after_number(after_blanks(p), 23, 2, 0, hour);
  if (p != nullptr) p = *p == ':' ? after_number(p + 1, 59, 2, 0, min) : nullptr;
  if (p != nullptr) p = *p == ':' ? after_number(p + 1, 61, 2, 0, sec) : nullptr;
  if (p == nullptr) return nullptr;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  tm.tm_wday = wday;
  tm.tm_mon = mon;
  tm.tm_mday = mday;
  tm.tm_year = year - 1900;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_yday = days_before_month[leap ? 1 : 0][mon] + mday - 1;
  return p;
}

namespace {

// The stored seconds of a text (without NUL), worked out from scratch: 0 when
// it does not parse or cannot be converted or does not fit 32 bits.
std::int32_t convert_legacy_time(std::string_view text) {
  char c_text[controller_record::size + 1];
  std::memcpy(c_text, text.data(), text.size());
  c_text[text.size()] = '\0';
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  if (parse_legacy_time(c_text, tm) == nullptr) return 0;
  long long instant = 0;
  if (!local_instant(wall_clock_seconds(tm), instant)) return 0;
  if (instant < -2147483648LL || instant > 2147483647LL) return 0;
  return static_cast<std::int32_t>(instant);
}

// The seconds of every distinct text of a run, remembered by the exact text.
//
// One run converts the same 1000 report times up to six times (the controller,
// module and alarm histories all take record i's time from the controller
// report). The seconds depend only on the text and the zone, which the tool
// never changes, so each text is worked out once, failures included.
//
// Bounded and allocation-free: a fixed table in static storage, open
// addressing over a few slots; when they are all taken, the text's first slot
// is overwritten (slower, never wrong). Single-threaded, like the rest of the
// tool.
struct RememberedTime {
  char text[32];  // the exact text, NUL-terminated; "" for a free slot
  std::int32_t seconds;
};

constexpr std::size_t cache_slots = 4096;  // four times the 1000 times of one report
constexpr std::size_t cache_probes = 8;
RememberedTime g_cache[cache_slots];

// A hash of the text eight bytes at a time (it only picks the slot).
std::size_t text_hash(const char* text, std::size_t n) {
  std::uint64_t h = n;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text + i, 8);
    h = (h ^ word) * 0x9E3779B97F4A7C15u;
  }
  for (; i < n; ++i) h = (h ^ static_cast<unsigned char>(text[i])) * 0x100000001B3u;
  return static_cast<std::size_t>(h ^ (h >> 29));
}

}  // namespace

std::int32_t legacy_time_seconds(std::string_view text) {
  // A timestamp lies in a controller record and ends with it at the latest, so
  // it is taken whole: blanks in the format match runs of any length, so
  // cutting the text short could turn a time that parses into one that does
  // not. It ends at its first NUL.
  text = text.substr(0, controller_record::size);
  text = text.substr(0, text.find('\0'));
  const std::size_t n = text.size();
  if (n == 0 || n >= sizeof g_cache[0].text) return convert_legacy_time(text);
  const std::size_t home = text_hash(text.data(), n) % cache_slots;
  RememberedTime* free_slot = nullptr;
  for (std::size_t i = 0; i < cache_probes; ++i) {
    RememberedTime& e = g_cache[(home + i) % cache_slots];
    if (e.text[0] == '\0') {
      free_slot = &e;
      break;  // entries are only removed all at once, so the text is not further on
    }
    if (e.text[n] == '\0' && std::memcmp(e.text, text.data(), n) == 0) return e.seconds;
  }
  RememberedTime& slot = free_slot != nullptr ? *free_slot : g_cache[home];
  const std::int32_t seconds = convert_legacy_time(text);
  std::memcpy(slot.text, text.data(), n);
  slot.text[n] = '\0';
  slot.seconds = seconds;
  return seconds;
}

void forget_legacy_times() {
  std::memset(g_cache, 0, sizeof g_cache);
  std::memset(g_day_offsets, 0, sizeof g_day_offsets);
}

namespace {

// Whether TZ names UTC itself, or a zone file that exists (libc's reading:
// a leading colon, an absolute path, else a name under the zone folder).
bool tz_names_a_zone(const char* tz) {
  if (*tz == ':') ++tz;
  if (std::strncmp(tz, "UTC", 3) == 0 || std::strncmp(tz, "GMT", 3) == 0) return true;
  char file[512];
  const int n = *tz == '/' ? std::snprintf(file, sizeof file, "%s", tz)
                           : std::snprintf(file, sizeof file, "/usr/share/zoneinfo/%s", tz);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof file) return false;
  // A POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3") gives a zone without a file;
  // it has an offset then, and is not taken for a fallback below.
  return access(file, R_OK) == 0;
}

}  // namespace

bool zone_rule_of(const char* bytes, std::size_t n, char* rule, std::size_t capacity) {
  std::size_t length = 0;
  while (length < n && bytes[length] != '\n') ++length;
  if (length == n && n >= capacity) return false;  // no end of line within the bound
  if (length > 0 && bytes[length - 1] == '\r') --length;
  if (length == 0 || length >= capacity) return false;
  for (std::size_t i = 0; i < length; ++i) {
    // A rule is printable and has no blanks; a NUL would end it early.
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c <= 0x20 || c >= 0x7f) return false;
  }
  std::memcpy(rule, bytes, length);
  rule[length] = '\0';
  return true;
}

namespace {

// The rule taken from /etc/TZ and put into TZ by this process ("": none).
char g_etc_tz_rule[zone_rule_max + 1];

// The first line of /etc/TZ as a rule, read without blocking and only from a
// regular file; false when there is none that can be used.
bool read_etc_tz(char* rule, std::size_t capacity) {
  const int fd = open(host_path(zone_rule_file), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  char bytes[zone_rule_max + 2];
  ssize_t n = -1;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = read(fd, bytes, sizeof bytes);
  close(fd);
  return n > 0 && zone_rule_of(bytes, static_cast<std::size_t>(n), rule, capacity);
}

}  // namespace

ZoneSource zone_source() {
  ZoneSource zone{nullptr, false, ZoneSource::none};
  const char* tz = std::getenv("TZ");
  if (tz != nullptr && g_etc_tz_rule[0] != '\0' && std::strcmp(tz, g_etc_tz_rule) == 0) {
    zone.from = ZoneSource::etc_tz;
  } else if (tz != nullptr) {
    zone.from = ZoneSource::tz_variable;
  } else if (access(host_path("/etc/localtime"), R_OK) == 0) {
    zone.from = ZoneSource::localtime;
  } else if (read_etc_tz(g_etc_tz_rule, sizeof g_etc_tz_rule)) {
    // libc (glibc) does not read /etc/TZ: the rule is given to it as TZ, for
    // every conversion of this process.
    setenv("TZ", g_etc_tz_rule, 1);
    tz = std::getenv("TZ");
    zone.from = ZoneSource::etc_tz;
  }
  zone.tz = tz;
  tzset();
  const bool utc = timezone == 0 && daylight == 0;
  const bool told = zone.from == ZoneSource::localtime || (tz != nullptr && tz_names_a_zone(tz));
  zone.read_as_utc = utc && !told;
  return zone;
}

void tell_zone() {
  const ZoneSource zone = zone_source();
  if (zone.from == ZoneSource::tz_variable)
    note(LOG_NOTICE, log_line::zone_from_tz, escaped(zone.tz).text);
  else if (zone.from == ZoneSource::etc_tz)
    note(LOG_NOTICE, log_line::zone_from_etc_tz, escaped(zone.tz).text);
  else if (zone.from == ZoneSource::localtime)
    note(LOG_NOTICE, "%s", log_line::zone_from_localtime);
  if (zone.read_as_utc) note(LOG_WARNING, "%s", log_line::zone_fallback_utc);
}

}  // namespace sav3
