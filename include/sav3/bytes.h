// Little-endian loads and stores at any offset of a fixed buffer.
//
// Every access is bounds-checked against the view: a load that would reach past
// the end yields 0 and a store that would reach past the end does nothing, so a
// wrong offset can never touch memory outside the record. The byte order is
// spelled out in each name and never depends on the host.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace sav3 {

using Bytes = std::span<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

inline bool fits(ConstBytes b, std::size_t off, std::size_t width) {
  return off <= b.size() && width <= b.size() - off;
}

inline std::uint8_t read8(ConstBytes b, std::size_t off) { return fits(b, off, 1) ? b[off] : 0; }

inline std::uint16_t read16le(ConstBytes b, std::size_t off) {
  if (!fits(b, off, 2)) return 0;
  return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}

inline std::uint32_t read32le(ConstBytes b, std::size_t off) {
  if (!fits(b, off, 4)) return 0;
  return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
         (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}

inline std::int16_t read16le_signed(ConstBytes b, std::size_t off) {
  return static_cast<std::int16_t>(read16le(b, off));
}

inline std::int32_t read32le_signed(ConstBytes b, std::size_t off) {
  return static_cast<std::int32_t>(read32le(b, off));
}

// Legacy float32 fields: the old firmware ran on the same little-endian ARM
// board, so its floats are IEEE-754 single precision, little-endian.
inline float read_f32le(ConstBytes b, std::size_t off) { return std::bit_cast<float>(read32le(b, off)); }

inline void write8(Bytes b, std::size_t off, std::uint32_t v) {
  if (fits(b, off, 1)) b[off] = static_cast<std::uint8_t>(v);
}

inline void write16le(Bytes b, std::size_t off, std::uint32_t v) {
  if (!fits(b, off, 2)) return;
  b[off] = static_cast<std::uint8_t>(v);
  b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}

// The full year of the LQ and ZRT records is the one value the new firmware
// keeps high byte first.
inline void write16be(Bytes b, std::size_t off, std::uint32_t v) {
  if (!fits(b, off, 2)) return;
  b[off] = static_cast<std::uint8_t>(v >> 8);
  b[off + 1] = static_cast<std::uint8_t>(v);
}

inline std::uint16_t read16be(ConstBytes b, std::size_t off) {
  if (!fits(b, off, 2)) return 0;
  return static_cast<std::uint16_t>((b[off] << 8) | b[off + 1]);
}

inline void write32le(Bytes b, std::size_t off, std::uint32_t v) {
  if (!fits(b, off, 4)) return;
  b[off] = static_cast<std::uint8_t>(v);
  b[off + 1] = static_cast<std::uint8_t>(v >> 8);
  b[off + 2] = static_cast<std::uint8_t>(v >> 16);
  b[off + 3] = static_cast<std::uint8_t>(v >> 24);
}

inline void write_f32le(Bytes b, std::size_t off, float v) {
  write32le(b, off, std::bit_cast<std::uint32_t>(v));
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
