// Legacy timestamps: texts such as "Mon Jan 05 2015 10:20:30" (format
// "%a %b %d %Y %X", a wall-clock time in the device's zone) become signed
// 32-bit seconds since the epoch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace sav3 {

// The broken-down time is cleared before every parse; trailing text after the
// time is allowed. The text is taken whole up to the length of a controller
// record (where every timestamp lies); beyond that it is cut.
//
// The wall-clock time becomes an instant by the zone's UTC offsets alone: a
// time that the clock shows twice (when the zone sets its clocks back) is the
// earlier instant; a time that the clock skips (when it sets them forward) is
// read with the offset in force before the change. Days past the end of a
// month and second 60 run on into the next ones. So the same text gives the
// same seconds whatever was converted before it.
//
// A text that does not parse, a time that the zone cannot place, or one outside
// the signed 32-bit range gives 0: the same bytes on a 64-bit host and on the
// 32-bit target. Each distinct text is worked out once per run.
std::int32_t legacy_time_seconds(std::string_view text);

// strptime(text, "%a %b %d %Y %X", &tm) of the C locale, field for field and
// with the same end of the parse (nullptr when the text does not parse), on a
// cleared `tm`; only much cheaper.
const char* parse_legacy_time(const char* text, std::tm& tm);

// Forgets every remembered time. For tests that change the zone (TZ) within
// one process, and for the benchmark, whose every timed run must start as a
// tool run does; the tool itself never calls it.
void forget_legacy_times();

// Where the zone comes from: TZ when it is set; else /etc/localtime; else
// /etc/TZ, a POSIX TZ rule in a text file (uClibc-based devices keep their
// zone so, and their libc reads it when TZ is unset), whose first line this
// process then puts into TZ, so that every conversion reads times in it;
// else none, and libc reads times as UTC.
inline constexpr char zone_rule_file[] = "/etc/TZ";
inline constexpr std::size_t zone_rule_max = 127;  // bytes of a rule
// The rule in the first `n` bytes of /etc/TZ: the first line (a trailing
// carriage return dropped), printable and without blanks, shorter than
// `capacity`; false when there is no such line within `capacity` bytes.
bool zone_rule_of(const char* bytes, std::size_t n, char* rule, std::size_t capacity);

// Tells the system log which zone the times are read in, as zone_source
// finds it, and warns when libc fell back to UTC without being told to (no
// zone at all, or a TZ naming a zone file that does not exist).
void tell_zone();
// What tell_zone tells: `tz` is TZ (with etc_tz, the rule from /etc/TZ);
// `read_as_utc` when libc fell back to UTC without being told to.
struct ZoneSource {
  const char* tz;
  bool read_as_utc;
  enum From { none, tz_variable, localtime, etc_tz } from;
};
ZoneSource zone_source();

}  // namespace sav3
