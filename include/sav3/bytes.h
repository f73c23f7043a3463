// Loads and stores of fixed-width values at any offset of a fixed buffer, in
// a byte order spelled out in each name (never the host's).
//
// One template does every width and order; the short names below (read32le,
// write16be, ...) are what the converters call. Every access is checked
// against the view. An access that would reach past the end is a wrong offset
// in the code: the sanitizer build stops there, naming it; the tool itself
// reads 0 and stores nothing, so a wrong offset can never touch memory outside
// the record.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <type_traits>

namespace sav3 {

using Bytes = std::span<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

enum class Endian : std::uint8_t { little, big };

inline bool fits(ConstBytes b, std::size_t off, std::size_t width) {
  return off <= b.size() && width <= b.size() - off;
}

// Whether `width` bytes at `off` lie inside the view; the sanitizer build
// stops at an access that does not.
inline bool access_fits(ConstBytes b, std::size_t off, std::size_t width, const char* what) {
  if (fits(b, off, width)) return true;
#ifdef SAV3_CHECK_FIELD_VALUES
  std::fprintf(stderr, "%s: %zu bytes at offset %zu lie outside a view of %zu bytes\n", what, width, off,
               b.size());
  std::abort();
#else
  (void)what;
  return false;
#endif
}

// The unsigned value of `sizeof(T)` bytes at `off` in byte order `E`
// (0 outside the view), as T (an integer or float32, bit for bit).
template <typename T, Endian E>
T load(ConstBytes b, std::size_t off) {
  static_assert(std::is_arithmetic_v<T> && sizeof(T) <= 4);
  using U = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                               std::conditional_t<sizeof(T) == 2, std::uint16_t, std::uint32_t>>;
  constexpr std::size_t n = sizeof(T);
  if (!access_fits(b, off, n, "load")) return T{};
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = E == Endian::little ? off + i : off + n - 1 - i;
    v |= static_cast<std::uint32_t>(b[at]) << (8 * i);
  }
  return std::bit_cast<T>(static_cast<U>(v));
}

// Stores the low `sizeof(T)` bytes of `v` at `off` in byte order `E` (nothing
// outside the view).
template <typename T, Endian E>
void store(Bytes b, std::size_t off, std::uint32_t v) {
  static_assert(std::is_unsigned_v<T> && sizeof(T) <= 4);
  constexpr std::size_t n = sizeof(T);
  if (!access_fits(b, off, n, "store")) return;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = E == Endian::little ? off + i : off + n - 1 - i;
    b[at] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

inline std::uint8_t read8(ConstBytes b, std::size_t off) {
  return load<std::uint8_t, Endian::little>(b, off);
}
inline std::uint16_t read16le(ConstBytes b, std::size_t off) {
  return load<std::uint16_t, Endian::little>(b, off);
}
inline std::uint32_t read32le(ConstBytes b, std::size_t off) {
  return load<std::uint32_t, Endian::little>(b, off);
}
inline std::int16_t read16le_signed(ConstBytes b, std::size_t off) {
  return load<std::int16_t, Endian::little>(b, off);
}
inline std::int32_t read32le_signed(ConstBytes b, std::size_t off) {
  return load<std::int32_t, Endian::little>(b, off);
}
// Legacy float32 fields: the old firmware ran on the same little-endian ARM
// board, so its floats are IEEE-754 single precision, little-endian.
inline float read_f32le(ConstBytes b, std::size_t off) { return load<float, Endian::little>(b, off); }

// The full year of the LQ and ZRT records is the one value the new firmware
// keeps high byte first.
inline std::uint16_t read16be(ConstBytes b, std::size_t off) {
  return load<std::uint16_t, Endian::big>(b, off);
}

inline void write8(Bytes b, std::size_t off, std::uint32_t v) {
  store<std::uint8_t, Endian::little>(b, off, v);
}
inline void write16le(Bytes b, std::size_t off, std::uint32_t v) {
  store<std::uint16_t, Endian::little>(b, off, v);
}
inline void write16be(Bytes b, std::size_t off, std::uint32_t v) {
  store<std::uint16_t, Endian::big>(b, off, v);
}
inline void write32le(Bytes b, std::size_t off, std::uint32_t v) {
  store<std::uint32_t, Endian::little>(b, off, v);
}
inline void write_f32le(Bytes b, std::size_t off, float v) {
  store<std::uint32_t, Endian::little>(b, off, std::bit_cast<std::uint32_t>(v));
}

// Copies `width` bytes between two views, bit for bit; clipped to both views.
inline void copy_bytes(Bytes dst, std::size_t dst_off, ConstBytes src, std::size_t src_off,
                       std::size_t width) {
  if (dst_off > dst.size() || src_off > src.size()) return;
  std::size_t n = width;
  if (n > dst.size() - dst_off) n = dst.size() - dst_off;
  if (n > src.size() - src_off) n = src.size() - src_off;
  if (n != 0) std::memcpy(dst.data() + dst_off, src.data() + src_off, n);
}

// The sub-view of `count` bytes at `off` (empty or clipped when it lies past the end).
inline ConstBytes slice(ConstBytes b, std::size_t off, std::size_t count) {
  if (off > b.size()) return {};
  if (count > b.size() - off) count = b.size() - off;
  return b.subspan(off, count);
}

inline Bytes slice(Bytes b, std::size_t off, std::size_t count) {
  if (off > b.size()) return {};
  if (count > b.size() - off) count = b.size() - off;
  return b.subspan(off, count);
}

}  // namespace sav3
