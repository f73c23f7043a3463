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

}  // namespace
}  // namespace sav3
