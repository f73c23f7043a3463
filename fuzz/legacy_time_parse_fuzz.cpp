// The quick parse of legacy timestamps held against libc's strptime with the
// same format: the same end of the parse (or failure) and the same fields, for
// any text. The first byte picks how the rest is used: as the whole text, or
// spliced into a valid timestamp at a position the second byte gives (so that
// most texts get far into the format).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "sav3/legacy_time.h"

namespace {

[[noreturn]] void finding(const char* what, const std::string& text) {
  std::fprintf(stderr, "legacy time parse: %s for \"%s\"\n", what, text.c_str());
  std::abort();
}

void check(const std::string& text) {
  std::tm ours;
  std::tm libc;
  std::memset(&ours, 0, sizeof ours);
  std::memset(&libc, 0, sizeof libc);
  const char* our_end = sav3::parse_legacy_time(text.c_str(), ours);
  const char* libc_end = strptime(text.c_str(), "%a %b %d %Y %X", &libc);
  if (our_end != libc_end) finding("the parse ends elsewhere", text);
  if (libc_end == nullptr) return;
  if (ours.tm_sec != libc.tm_sec || ours.tm_min != libc.tm_min || ours.tm_hour != libc.tm_hour ||
      ours.tm_mday != libc.tm_mday || ours.tm_mon != libc.tm_mon || ours.tm_year != libc.tm_year ||
      ours.tm_wday != libc.tm_wday || ours.tm_yday != libc.tm_yday || ours.tm_isdst != libc.tm_isdst ||
      ours.tm_gmtoff != libc.tm_gmtoff || ours.tm_zone != libc.tm_zone)
    finding("the fields differ", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  rest = rest.substr(0, rest.find('\0'));
  if (data[0] % 2 == 0) {
    check(static_cast<char>(data[1]) + rest);
    return 0;
  }
  std::string text = data[0] % 4 == 1 ? "Wed Sep 05 2015 10:20:30" : "Wednesday September 5 2015 1:2:3";
  const std::size_t at = data[1] % (text.size() + 1);
  const std::size_t cut = data[0] / 4 % 4;  // bytes of the valid text replaced
  text.replace(at, cut, rest);
  check(text);
  return 0;
}
