#include "sav3/settings_ieee8021x.h"

#include "scratch_device.h"

namespace sav3::testing {
namespace {

using Ieee8021xSettings = ScratchDevice;

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<std::uint8_t>(k % 251);
  return bytes;
}

TEST_F(Ieee8021xSettings, MissingLegacyRecordGivesZeros) {
  ASSERT_EQ(convert_ieee8021x_settings(), result::ok);
  EXPECT_EQ(headed_payload(ieee8021x::path, 1245, 1), std::vector<std::uint8_t>(1245, 0));
}

// The fill bytes of the aligned legacy record go; everything else moves up.
TEST_F(Ieee8021xSettings, FillBytesAreDropped) {
  auto legacy = pattern(1252);
  for (std::size_t fill : {1225, 1226, 1227, 1243, 1249, 1250, 1251})
    legacy[fill] = 0xFF;  // never in the pattern
  put_file(legacy_ieee8021x::path, legacy);
  ASSERT_EQ(convert_ieee8021x_settings(), result::ok);
  const auto rec = headed_payload(ieee8021x::path, 1245, 1);
  ASSERT_EQ(rec.size(), 1245u);

  std::vector<std::uint8_t> expected(legacy.begin(), legacy.begin() + 1225);
  expected.insert(expected.end(), legacy.begin() + 1228, legacy.begin() + 1243);
  expected.insert(expected.end(), legacy.begin() + 1244, legacy.begin() + 1249);
  EXPECT_EQ(rec, expected);
  EXPECT_EQ(rec[1225], legacy[1228]);
  EXPECT_EQ(rec[1240], legacy[1244]);
  EXPECT_EQ(rec[1244], legacy[1248]);
  EXPECT_EQ(std::count(rec.begin(), rec.end(), 0xFF), 0);
  EXPECT_EQ(get(rec, ieee8021x::word), read32le(legacy, 1244));
  EXPECT_EQ(get(rec, ieee8021x::word_group[2]), read32le(legacy, 1236));
}

TEST_F(Ieee8021xSettings, ShortAndLongLegacyFiles) {
  put_file(legacy_ieee8021x::path, pattern(1230));
  ASSERT_EQ(convert_ieee8021x_settings(), result::ok);
  auto rec = headed_payload(ieee8021x::path, 1245, 1);
  ASSERT_EQ(rec.size(), 1245u);
  EXPECT_EQ(rec[1225], 1228 % 251);
  EXPECT_EQ(rec[1226], 1229 % 251);
  EXPECT_TRUE(std::all_of(rec.begin() + 1227, rec.end(), [](std::uint8_t b) { return b == 0; }));

  put_file(legacy_ieee8021x::path, pattern(4000));
  ASSERT_EQ(convert_ieee8021x_settings(), result::ok);
  rec = headed_payload(ieee8021x::path, 1245, 1);
  EXPECT_EQ(rec[1244], 1248 % 251);
}

}  // namespace
}  // namespace sav3::testing
