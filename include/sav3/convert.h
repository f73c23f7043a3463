// Numeric conversions from legacy values to the new records.
//
// The old firmware stored readings as float32 and the new one stores scaled
// integers. A plain float-to-integer cast of an out-of-range value is undefined
// behaviour, and x86-64 and 32-bit ARM really do give different bytes for it, so
// the saturation rules are spelled out here and used everywhere. Products are
// single precision (the build also forbids contracting them into fused
// multiply-adds), which is what makes 655.35 x 100 come out as 65534.
#pragma once

#include <cstdint>
#include <string_view>

namespace sav3 {

// Truncates toward zero into 0..0xFFFFFFFF: negatives and NaN give 0, values at
// or above 2^32 give 0xFFFFFFFF.
std::uint32_t saturate_to_u32(float x);

// Truncates toward zero into the signed 32-bit range: values beyond it take the
// nearest limit, NaN gives 0.
std::int32_t saturate_to_s32(float x);

// value x factor in single precision, then the unsigned or signed saturation.
// The caller keeps the low 8, 16 or all 32 bits, as each record field says.
inline std::uint32_t scaled_unsigned(float value, float factor) { return saturate_to_u32(value * factor); }
inline std::int32_t scaled_signed(float value, float factor) { return saturate_to_s32(value * factor); }

// Legacy integer hours and days become seconds with 32-bit wrap-around.
inline std::uint32_t hours_to_seconds(std::uint32_t hours) { return hours * 3600u; }
inline std::uint32_t days_to_seconds(std::uint32_t days) { return days * 86400u; }

// A legacy 32-bit integer holding hundredths becomes a float32: double division,
// then one rounding to single precision (250 gives 2.5f, -5 gives -0.05f).
inline float hundredths_to_float(std::int32_t hundredths) {
  return static_cast<float>(static_cast<double>(hundredths) / 100.0);
}

// Report interval code 1..20 in seconds: hours for 1..8, days for 9..14, weeks
// for 15..18, then two fixed long periods; any other code gives 0.
std::uint32_t report_interval_seconds(std::uint32_t code);

// A base-10 number text as the 32-bit target's strtol reads it: leading white
// space, an optional sign, then digits; values beyond the signed 32-bit range
// saturate to its limits (on every host, whatever the width of long). A text
// without digits gives 0. `consumed`, when given, receives the number of
// characters used (0 when there were no digits).
std::int32_t parse_long32(std::string_view text, std::size_t* consumed = nullptr);

}  // namespace sav3
