#include "sav3/legacy_time.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace sav3 {

std::int32_t legacy_time_seconds(std::string_view text) {
  // strptime needs a C text; a legacy timestamp is short, and anything past the
  // first 63 characters is trailing text that the parse would ignore anyway.
  char buffer[64];
  const std::size_t n = text.size() < sizeof buffer - 1 ? text.size() : sizeof buffer - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';

  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  if (strptime(buffer, "%a %b %d %Y %X", &tm) == nullptr) return 0;
  tm.tm_isdst = -1;
  errno = 0;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) && errno != 0) return 0;
  const long long seconds = static_cast<long long>(t);
  if (seconds < -2147483648LL || seconds > 2147483647LL) return 0;
  return static_cast<std::int32_t>(seconds);
}

}  // namespace sav3
