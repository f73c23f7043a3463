// Legacy timestamps: texts such as "Mon Jan 05 2015 10:20:30" (format
// "%a %b %d %Y %X", local time) become signed 32-bit seconds since the epoch.
#pragma once

#include <cstdint>
#include <string_view>

namespace sav3 {

// The broken-down time is cleared before every parse and its daylight-saving
// flag left to the zone (so a summer time gets the summer offset). Trailing
// text after the time is allowed. The text is taken whole up to the length of
// a controller record (where every timestamp lies); beyond that it is cut. A text that does not parse, a time
// that mktime cannot represent, or one outside the signed 32-bit range gives 0: the same bytes on a 64-bit
// host and on the 32-bit target.
std::int32_t legacy_time_seconds(std::string_view text);

}  // namespace sav3
