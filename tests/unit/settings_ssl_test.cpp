#include "sav3/settings_ssl.h"

#include "scratch_device.h"

namespace sav3::testing {
namespace {

using SslSettings = ScratchDevice;

TEST_F(SslSettings, MissingLegacyRecordGivesZeros) {
  ASSERT_EQ(convert_ssl_settings(), result::ok);
  EXPECT_EQ(headed_payload(ssl::path, 1445, 1), std::vector<std::uint8_t>(1445, 0));
}

// A distinct value in every legacy byte: each new byte comes from exactly the
// legacy byte the layout names, the reserved bytes are zero.
TEST_F(SslSettings, EveryByteFromItsLegacyPlace) {
  LegacyRecord legacy(1500);
  for (std::size_t k = 0; k < 1500; ++k) legacy.bytes[k] = static_cast<std::uint8_t>(k % 251 + 1);
  put_file(legacy_ssl::path, legacy.bytes);
  ASSERT_EQ(convert_ssl_settings(), result::ok);
  const auto rec = headed_payload(ssl::path, 1445, 1);
  ASSERT_EQ(rec.size(), 1445u);

  auto from = [&legacy](std::size_t k) { return legacy.bytes[k]; };
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(rec[i], from(i)) << i;
  for (std::size_t i = 32; i < 132; ++i) EXPECT_EQ(rec[i], from(i + 68)) << i;
  for (std::size_t i = 132; i < 160; ++i) EXPECT_EQ(rec[i], 0) << i;
  EXPECT_EQ(rec[160], from(200));
  EXPECT_EQ(rec[161], from(204));
  EXPECT_EQ(rec[162], from(208));
  for (std::size_t i = 163; i < 1443; ++i) EXPECT_EQ(rec[i], from(i + 49)) << i;
  EXPECT_EQ(rec[1443], from(1492));
  EXPECT_EQ(rec[1444], from(1496));
}

TEST_F(SslSettings, OptionBytesKeepTheLowByte) {
  const std::pair<std::uint32_t, std::uint8_t> cases[] = {{1, 1}, {255, 255}, {256, 0}, {257, 1}};
  for (const auto& [word, byte] : cases) {
    LegacyRecord legacy(1500);
    for (std::size_t off : {200, 204, 208, 1492, 1496}) legacy.u32(off, word);
    put_file(legacy_ssl::path, legacy.bytes);
    ASSERT_EQ(convert_ssl_settings(), result::ok);
    const auto rec = headed_payload(ssl::path, 1445, 1);
    for (const Field& f : {ssl::option_1, ssl::option_2, ssl::option_3, ssl::option_4, ssl::option_5})
      EXPECT_EQ(get(rec, f), byte) << f.name << " from " << word;
  }
}

TEST_F(SslSettings, FullTextIsFollowedByTheReservedZeros) {
  put_file(legacy_ssl::path, LegacyRecord(1500).raw(100, std::string(100, 'c')).u32(200, 0x41).bytes);
  ASSERT_EQ(convert_ssl_settings(), result::ok);
  const auto rec = headed_payload(ssl::path, 1445, 1);
  EXPECT_EQ(get_text(rec, ssl::text_2), std::string(100, 'c'));
  EXPECT_EQ(text_at(rec, ssl::text_2.offset), std::string(100, 'c'));
}

}  // namespace
}  // namespace sav3::testing
