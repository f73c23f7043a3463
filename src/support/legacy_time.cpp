#include "sav3/legacy_time.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "sav3/controller_record.h"

namespace sav3 {

namespace {

// The parse of a timestamp text, remembered by its exact text.
//
// One run converts the same 1000 report times up to six times (the controller,
// module and alarm histories all take record i's time from the controller
// report), and strptime's weekday and month names make the parse the largest
// cost of the run. Only the parse is remembered, never the seconds: mktime runs
// on every call, so a change of zone (TZ, the zone file) is seen exactly as
// without the cache. The entry keeps every field strptime set, so mktime gets
// the same broken-down time either way. The tool never changes its locale, so
// strptime's names are the same for the whole run.
//
// Bounded and allocation-free: a fixed table in static storage, open
// addressing over a few slots; when they are all taken, the text's first slot
// is overwritten. Single-threaded, like the rest of the tool.
struct ParsedTime {
  char text[32];  // the exact text strptime saw, NUL-terminated; "" for a free slot
  std::int32_t year;
  std::uint16_t yday;
  std::uint8_t sec, min, hour, mday, mon, wday;
  bool parsed;  // false: the text does not parse
};

constexpr std::size_t cache_slots = 2048;  // twice the 1000 times of one report
constexpr std::size_t cache_probes = 8;
ParsedTime g_cache[cache_slots];

std::uint32_t text_hash(const char* text, std::size_t n) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(text[i])) * 16777619u;
  return h;
}

bool fits_byte(int v) { return v >= 0 && v <= 255; }

// Whether strptime's fields fit an entry (always, for this format; a field out
// of range is simply not remembered).
bool storable(const std::tm& tm) {
  return fits_byte(tm.tm_sec) && fits_byte(tm.tm_min) && fits_byte(tm.tm_hour) && fits_byte(tm.tm_mday) &&
         fits_byte(tm.tm_mon) && fits_byte(tm.tm_wday) && tm.tm_yday >= 0 && tm.tm_yday <= 65535 &&
         tm.tm_isdst == 0 && tm.tm_gmtoff == 0 && tm.tm_zone == nullptr;
}

void restore(const ParsedTime& e, std::tm& tm) {
  tm.tm_sec = e.sec;
  tm.tm_min = e.min;
  tm.tm_hour = e.hour;
  tm.tm_mday = e.mday;
  tm.tm_mon = e.mon;
  tm.tm_year = e.year;
  tm.tm_wday = e.wday;
  tm.tm_yday = e.yday;
}

void remember(ParsedTime& e, const char* text, std::size_t n, const std::tm* tm) {
  std::memcpy(e.text, text, n);
  e.text[n] = '\0';
  e.parsed = tm != nullptr;
  if (tm == nullptr) return;
  e.sec = static_cast<std::uint8_t>(tm->tm_sec);
  e.min = static_cast<std::uint8_t>(tm->tm_min);
  e.hour = static_cast<std::uint8_t>(tm->tm_hour);
  e.mday = static_cast<std::uint8_t>(tm->tm_mday);
  e.mon = static_cast<std::uint8_t>(tm->tm_mon);
  e.wday = static_cast<std::uint8_t>(tm->tm_wday);
  e.yday = static_cast<std::uint16_t>(tm->tm_yday);
  e.year = tm->tm_year;
}

// strptime on a cleared broken-down time, through the cache; false when the
// text does not parse.
bool parse_legacy_time(const char* text, std::tm& tm) {
  std::memset(&tm, 0, sizeof tm);
  const std::size_t n = std::strlen(text);
  if (n == 0 || n >= sizeof g_cache[0].text) return strptime(text, "%a %b %d %Y %X", &tm) != nullptr;

  const std::size_t home = text_hash(text, n) % cache_slots;
  ParsedTime* free_slot = nullptr;
  for (std::size_t i = 0; i < cache_probes; ++i) {
    ParsedTime& e = g_cache[(home + i) % cache_slots];
    if (e.text[0] == '\0') {
      free_slot = &e;
      break;  // entries are never removed, so the text is not further on
    }
    if (std::memcmp(e.text, text, n + 1) == 0) {
      if (e.parsed) restore(e, tm);
      return e.parsed;
    }
  }
  const bool parsed = strptime(text, "%a %b %d %Y %X", &tm) != nullptr;
  if (parsed && !storable(tm)) return true;
  remember(free_slot != nullptr ? *free_slot : g_cache[home], text, n, parsed ? &tm : nullptr);
  return parsed;
}

}  // namespace

std::int32_t legacy_time_seconds(std::string_view text) {
  // strptime needs a C text. A timestamp lies in a controller record and ends
  // with it at the latest, so the buffer holds any timestamp whole: blanks in
  // the format match runs of any length, so cutting the text short could turn
  // a time that parses into one that does not.
  char buffer[controller_record::size + 1];
  const std::size_t n = text.size() < sizeof buffer - 1 ? text.size() : sizeof buffer - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';

  std::tm tm;
  if (!parse_legacy_time(buffer, tm)) return 0;
  tm.tm_isdst = -1;
  errno = 0;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) && errno != 0) return 0;
  const long long seconds = static_cast<long long>(t);
  if (seconds < -2147483648LL || seconds > 2147483647LL) return 0;
  return static_cast<std::int32_t>(seconds);
}

}  // namespace sav3
