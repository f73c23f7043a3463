#include "sav3/convert.h"

#include <limits>

namespace sav3 {

std::uint32_t saturate_to_u32(float x) {
  if (!(x > 0.0f)) return 0;  // negative, zero or NaN
  if (x >= 4294967296.0f) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(x);
}

std::int32_t saturate_to_s32(float x) {
  if (x != x) return 0;
  if (x >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (x < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

std::uint32_t report_interval_seconds(std::uint32_t code) {
  if (code >= 1 && code <= 8) return code * 3600u;
  if (code >= 9 && code <= 14) return code * 86400u;
  if (code >= 15 && code <= 18) return code * 604800u;
  if (code == 19) return 147744000u;
  if (code == 20) return 311040000u;
  return 0;
}

std::int32_t parse_long32(std::string_view text, std::size_t* consumed) {
  std::size_t i = 0;
  auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t first_digit = i;
  // Accumulate the magnitude up to just past the 32-bit limit, then clamp.
  constexpr std::uint64_t limit = 0x80000000u;
  std::uint64_t magnitude = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (magnitude <= limit) magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
    ++i;
  }
  if (i == first_digit) {
    if (consumed) *consumed = 0;
    return 0;
  }
  if (consumed) *consumed = i;
  if (negative) {
    if (magnitude >= limit) return std::numeric_limits<std::int32_t>::min();
    return -static_cast<std::int32_t>(magnitude);
  }
  if (magnitude >= limit) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(magnitude);
}

}  // namespace sav3
