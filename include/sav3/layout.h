// Record layouts declared once, by name.
//
// Each new record is a table of fields (name, offset, width, kind, scale). The
// converters store through these names, the tests assert through them, and the
// record inspector decodes files with the very same tables, so a field can
// only ever be at one offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "sav3/bytes.h"
#include "sav3/convert.h"
#include "sav3/legacy_text.h"

namespace sav3 {

enum class Kind : std::uint8_t {
  u8,        // unsigned, one byte
  u16,       // unsigned, two bytes, little-endian
  u32,       // unsigned, four bytes, little-endian
  s16,       // signed, two bytes, little-endian
  s32,       // signed, four bytes, little-endian
  u16be,     // the full year of LQ and ZRT records, high byte first
  f32,       // IEEE-754 single precision, little-endian
  epoch,     // signed 32-bit seconds since the epoch
  flags,     // bit field, shown in hex
  text,      // fixed-width text, NUL-padded (no terminator when full)
  secret,    // a text such as a password or community: carried byte for byte, never shown
  bytes,     // opaque bytes copied bit for bit
  reserved,  // always zero
};

struct Field {
  // The field's label, as the inspector prints it: unique in its record, with
  // the entry's index after it for an entry of a field array.
  const char* name;
  std::uint16_t offset;
  std::uint16_t width;
  Kind kind;
  // The stored integer is the physical value times `scale` (100 for a reading
  // kept in hundredths, 3600 for hours kept in seconds); 1 for plain values.
  std::uint32_t scale = 1;
  // The entry's number in its field array (field_array); -1 for a field of its
  // own.
  std::int16_t index = -1;
};

// The width that an integer kind names, or 0 for the kinds of any width.
constexpr std::uint16_t integer_width(Kind kind) {
  switch (kind) {
    case Kind::u8: return 1;
    case Kind::u16:
    case Kind::s16:
    case Kind::u16be: return 2;
    case Kind::u32:
    case Kind::s32: return 4;
    default: return 0;
  }
}

constexpr bool is_signed(Kind kind) { return kind == Kind::s16 || kind == Kind::s32; }

struct RecordLayout {
  const char* name;
  std::uint32_t size;
  std::span<const Field> fields;
};

// A run of equal fields, one after the other `stride` bytes apart (the 16
// entries of a list, the outputs of a module): entry i starts at
// first + stride x i. All entries share the name; each carries its index
// (counted from `first_index`), which tells them apart wherever they are put.
template <std::size_t N>
constexpr std::array<Field, N> field_array(const char* name, std::uint16_t first, std::uint16_t stride,
                                           std::uint16_t width, Kind kind, std::uint32_t scale = 1,
                                           std::int16_t first_index = 0) {
  std::array<Field, N> entries{};
  for (std::size_t i = 0; i < N; ++i)
    entries[i] = Field{name,  static_cast<std::uint16_t>(first + stride * i),
                       width, kind,
                       scale, static_cast<std::int16_t>(first_index + static_cast<std::int16_t>(i))};
  return entries;
}

// One field as a group of one, to join it with groups.
constexpr std::array<Field, 1> single(const Field& f) { return {f}; }

// The groups of a record, joined in table order into its `fields[]`.
template <std::size_t... N>
constexpr std::array<Field, (N + ...)> join_fields(const std::array<Field, N>&... groups) {
  std::array<Field, (N + ...)> out{};
  std::size_t at = 0;
  (([&] {
     for (const Field& f : groups) out[at++] = f;
   }()),
   ...);
  return out;
}

// True when the fields follow each other without gap or overlap and end at the
// record's size (every byte of the record belongs to exactly one field), and
// every integer field is as wide as its kind says.
constexpr bool fields_tile(std::span<const Field> fields, std::uint32_t size) {
  std::uint32_t next = 0;
  for (const Field& f : fields) {
    if (f.offset != next || f.width == 0) return false;
    if (integer_width(f.kind) != 0 && integer_width(f.kind) != f.width) return false;
    next = f.offset + f.width;
  }
  return next == size;
}

// Stores the low bits of `v` in the field, at its width and byte order: for the
// values that the record keeps only in part on purpose ("the low 8 bits of the
// legacy word").
inline void put_low_bits(Bytes record, const Field& f, std::uint32_t v) {
  if (f.kind == Kind::u16be) {
    write16be(record, f.offset, v);
    return;
  }
  switch (f.width) {
    case 1: write8(record, f.offset, v); break;
    case 2: write16le(record, f.offset, v); break;
    case 4: write32le(record, f.offset, v); break;
    default: break;
  }
}

// True when `v` (for a signed kind: the int32 it holds) fits the field's kind
// and width without losing bits.
constexpr bool value_fits(const Field& f, std::uint32_t v) {
  if (f.width >= 4) return true;
  const unsigned bits = 8u * f.width;
  if (is_signed(f.kind)) {
    const auto s = static_cast<std::int32_t>(v);
    const std::int32_t limit = std::int32_t{1} << (bits - 1);
    return s >= -limit && s < limit;
  }
  return v < (std::uint32_t{1} << bits);
}

// Stores `v`, which must fit the field (a deliberate truncation says so with
// put_low_bits). The sanitizer build stops at a value that does not fit: a
// wrong field or a lost part of a value would otherwise pass unseen.
inline void put(Bytes record, const Field& f, std::uint32_t v) {
#ifdef SAV3_CHECK_FIELD_VALUES
  if (!value_fits(f, v)) {
    std::fprintf(stderr, "put: %u (0x%x) does not fit the %u-byte field \"%s\" at %u\n", v, v,
                 unsigned{f.width}, f.name, unsigned{f.offset});
    std::abort();
  }
#endif
  put_low_bits(record, f, v);
}

// Stores a legacy float reading at the field's scale: value x scale in single
// precision, truncated toward zero with the signed or unsigned saturation of
// the field's kind, then the low bits of the field's width (the rule for
// every scaled reading: 655.36 x 100 in a 16-bit field keeps 0).
inline void put_scaled(Bytes record, const Field& f, float value) {
  const float factor = static_cast<float>(f.scale);
  put_low_bits(record, f,
               is_signed(f.kind) ? static_cast<std::uint32_t>(scaled_signed(value, factor))
                                 : scaled_unsigned(value, factor));
}

inline void put_f32(Bytes record, const Field& f, float v) { write_f32le(record, f.offset, v); }

inline void put_text(Bytes record, const Field& f, std::string_view text) {
  put_text(record, f.offset, f.width, text);
}

// Moves the field's width of legacy bytes, from `legacy_offset` on, into the
// field bit for bit: terminators and whatever follows them included.
inline void put_bytes(Bytes record, const Field& f, ConstBytes legacy, std::size_t legacy_offset) {
  copy_bytes(record, f.offset, legacy, legacy_offset, f.width);
}

// Sets one bit of a flags field when the condition holds (bits start cleared).
inline void set_bit_if(Bytes record, const Field& f, unsigned bit, bool condition) {
  if (!condition) return;
  std::uint32_t v = 0;
  switch (f.width) {
    case 1: v = read8(record, f.offset); break;
    case 2: v = read16le(record, f.offset); break;
    case 4: v = read32le(record, f.offset); break;
    default: return;
  }
  put(record, f, v | (1u << bit));
}

// The stored value of an integer field, zero-extended (sign-extended for the
// signed kinds).
inline std::uint32_t get(ConstBytes record, const Field& f) {
  if (f.kind == Kind::u16be) return read16be(record, f.offset);
  switch (f.width) {
    case 1: return read8(record, f.offset);
    case 2:
      return is_signed(f.kind) ? static_cast<std::uint32_t>(read16le_signed(record, f.offset))
                               : read16le(record, f.offset);
    case 4: return read32le(record, f.offset);
    default: return 0;
  }
}

inline std::int32_t get_signed(ConstBytes record, const Field& f) {
  return static_cast<std::int32_t>(get(record, f));
}

inline float get_f32(ConstBytes record, const Field& f) { return read_f32le(record, f.offset); }

inline std::string_view get_text(ConstBytes record, const Field& f) {
  return text_at(slice(record, f.offset, f.width), 0);
}

}  // namespace sav3
