#include "sav3/layout.h"

#include <gtest/gtest.h>

namespace sav3 {
namespace {

constexpr auto readings = field_array<12>("reading", 10, 2, 2, Kind::u16, 100);
constexpr Field head{"head", 0, 10, Kind::bytes};

TEST(Layout, FieldArrayCarriesTheScale) {
  EXPECT_EQ(readings[11].offset, 32);
  EXPECT_EQ(readings[11].width, 2);
  EXPECT_EQ(readings[11].scale, 100u);
  EXPECT_EQ(field_array<2>("plain", 0, 1, 1, Kind::u8)[1].scale, 1u);
}

TEST(Layout, JoinedGroupsKeepTableOrderAndTileTheRecord) {
  constexpr auto fields = join_fields(single(head), readings);
  static_assert(fields.size() == 13);
  EXPECT_EQ(fields[0].offset, 0);
  EXPECT_EQ(fields[1].offset, 10);
  EXPECT_EQ(fields[12].offset, 32);
  EXPECT_TRUE(fields_tile(fields, 34));
  EXPECT_FALSE(fields_tile(fields, 36)) << "record longer than its fields";
  constexpr Field gap{"gap", 0, 9, Kind::bytes};
  EXPECT_FALSE(fields_tile(join_fields(single(gap), readings), 34));
  constexpr Field overlap{"overlap", 0, 11, Kind::bytes};
  EXPECT_FALSE(fields_tile(join_fields(single(overlap), readings), 34));
}

// Which values a field holds whole: its kind's width and signedness.
TEST(Layout, ValuesFitTheFieldsKindAndWidth) {
  constexpr Field byte{"byte", 0, 1, Kind::u8};
  constexpr Field word{"word", 0, 2, Kind::u16};
  constexpr Field level{"level", 0, 2, Kind::s16};
  constexpr Field year{"year", 0, 2, Kind::u16be};
  constexpr Field seconds{"seconds", 0, 4, Kind::u32};
  const struct {
    const Field& field;
    std::uint32_t value;
    bool fits;
  } cases[] = {
      {byte, 255, true},
      {byte, 256, false},
      {word, 65535, true},
      {word, 65536, false},
      {year, 2025, true},
      {year, 0x10000, false},
      {level, 32767, true},
      {level, 32768, false},
      {level, static_cast<std::uint32_t>(-32768), true},
      {level, static_cast<std::uint32_t>(-32769), false},
      {seconds, 0xFFFFFFFF, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(value_fits(c.field, c.value), c.fits) << c.field.name << " " << c.value;
}

// A scaled reading: value x the field's scale, saturated by the field's kind,
// then the low bits of its width.
TEST(Layout, ScaledStoresTakeTheFieldsScaleAndKind) {
  const struct {
    Field field;
    float value;
    std::uint32_t stored;
  } cases[] = {
      {{"hundredths", 0, 2, Kind::u16, 100}, 12.34f, 1234},
      {{"hundredths", 0, 2, Kind::u16, 100}, 655.36f, 0},  // 65536: the low 16 bits
      {{"hundredths", 0, 2, Kind::u16, 100}, -1.0f, 0},    // unsigned saturation
      {{"level", 0, 2, Kind::s16, 100}, -2.5f, 0xFF06},    // -250
      {{"tenths", 0, 1, Kind::u8, 10}, 30.0f, 300 & 0xFF},
      {{"seconds", 0, 4, Kind::u32, 3600}, 2.5f, 9000},
      {{"span", 0, 4, Kind::u32, 31536000}, 4.0f, 126144000},
      {{"duration", 0, 4, Kind::s32, 3600}, -1e9f, 0x80000000},  // signed saturation
  };
  for (const auto& c : cases) {
    std::uint8_t rec[4] = {};
    put_scaled(rec, c.field, c.value);
    EXPECT_EQ(read32le(rec, 0), c.stored) << c.field.name << " " << c.value;
  }
}

#ifdef SAV3_CHECK_FIELD_VALUES
// In the sanitizer build a value that does not fit stops the program, unless
// the store says that it keeps the low bits.
TEST(LayoutDeathTest, ValueThatDoesNotFitStops) {
  constexpr Field byte{"setting 4", 4, 1, Kind::u8};
  std::uint8_t rec[8] = {};
  EXPECT_DEATH(put(rec, byte, 2048), "2048 .* does not fit the 1-byte field \"setting 4\" at 4");
  put_low_bits(rec, byte, 2048 + 7);
  EXPECT_EQ(rec[4], 7);
}
#endif

}  // namespace
}  // namespace sav3
