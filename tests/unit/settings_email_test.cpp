#include "sav3/settings_email.h"

#include "scratch_device.h"

namespace sav3::testing {
namespace {

class EmailSettings : public ScratchDevice {
 protected:
  std::vector<std::uint8_t> convert() {
    EXPECT_EQ(convert_email_settings(), result::ok);
    return headed_payload(email::path, 456, 1);
  }
};

TEST_F(EmailSettings, MissingLegacyRecordGivesZeros) {
  EXPECT_EQ(convert(), std::vector<std::uint8_t>(456, 0));
}

// Every field at its packed offset, checked against literal positions so that
// a wrong layout entry shows too.
TEST_F(EmailSettings, FieldsMoveToTheirPackedPlaces) {
  LegacyRecord legacy(756);
  legacy.raw(0, std::string(120, 'A'))
      .raw(120, std::string(120, 'B'))
      .raw(240, std::string(120, 'C'))
      .text(360, "smtp.example.net")
      .raw(480, std::string(60, 'D'))  // fills its slot, no terminator
      .text(540, "from@example.net")
      .text(600, "to@example.net")
      .raw(660, std::string(32, 'x'))  // not used here
      .u32(692, 9)
      .u32(700, 0x1FF)
      .text(704, "587")
      .u32(716, 0x102);
  put_file(legacy_emailcfg::path, legacy.bytes);
  const auto rec = convert();

  std::vector<std::uint8_t> expected(456, 0);
  auto place = [&expected](std::size_t off, const std::string& t) {
    std::copy(t.begin(), t.end(), &expected[off]);
  };
  place(0, std::string(60, 'D'));
  place(64, "from@example.net");
  place(128, "to@example.net");
  expected[192] = 0x02;  // option word B, low byte
  expected[193] = 587 & 0xFF;
  expected[194] = 587 >> 8;
  expected[195] = 0xFF;  // option word A, low byte
  write32le(expected, 196, 777600);
  place(200, std::string(64, 'A'));
  place(264, std::string(64, 'B'));
  place(328, std::string(64, 'C'));
  place(392, "smtp.example.net");
  EXPECT_EQ(rec, expected);
  EXPECT_EQ(get_text(rec, email::short_text_1), std::string(60, 'D')) << "ends at the zero reserved bytes";
}

TEST_F(EmailSettings, ReportIntervalCodes) {
  const std::pair<std::int32_t, std::uint32_t> cases[] = {
      {0, 0},        {1, 3600},       {8, 28800}, {9, 777600}, {14, 1209600},
      {15, 9072000}, {20, 311040000}, {21, 0},    {-1, 0},
  };
  for (const auto& [code, seconds] : cases) {
    put_file(legacy_emailcfg::path, LegacyRecord(756).u32(692, static_cast<std::uint32_t>(code)).bytes);
    EXPECT_EQ(get(convert(), email::report_interval), seconds) << "code " << code;
  }
}

TEST_F(EmailSettings, NumberTextAndOptionBytes) {
  const std::pair<std::string, std::uint32_t> numbers[] = {
      {"25", 25}, {"65535", 65535}, {"65536", 0}, {"65561", 25},           {"  8x", 8},
      {"", 0},    {"-1", 0xFFFF},   {"abc", 0},   {"99999999999", 0xFFFF},  // saturates at 2^31 - 1 first, as
                                                                            // the 32-bit target does
  };
  for (const auto& [text, value] : numbers) {
    put_file(legacy_emailcfg::path, LegacyRecord(756).text(704, text).bytes);
    EXPECT_EQ(get(convert(), email::number), value) << '"' << text << '"';
  }
  const std::pair<std::uint32_t, std::uint32_t> options[] = {{1, 1}, {255, 255}, {256, 0}, {257, 1}};
  for (const auto& [word, byte] : options) {
    put_file(legacy_emailcfg::path, LegacyRecord(756).u32(700, word).u32(716, word).bytes);
    const auto rec = convert();
    EXPECT_EQ(get(rec, email::option_a), byte) << word;
    EXPECT_EQ(get(rec, email::option_b), byte) << word;
  }
}

// Twelve characters without NUL: the old firmware's strtol read on into
// option word B; the read stays inside the record.
TEST_F(EmailSettings, NumberTextWithoutTerminatorRunsIntoTheNextWord) {
  put_file(legacy_emailcfg::path, LegacyRecord(756).raw(704, "          12").u32(716, '3').bytes);
  const auto rec = convert();
  EXPECT_EQ(get(rec, email::number), 123u);
  EXPECT_EQ(get(rec, email::option_b), std::uint32_t{'3'});
}

TEST_F(EmailSettings, ShortLegacyFileLeavesTheRestZero) {
  put_file(legacy_emailcfg::path, LegacyRecord(500).raw(0, std::string(100, 'L')).raw(480, "ab").bytes);
  const auto rec = convert();
  EXPECT_EQ(get_text(rec, email::long_text_1), std::string(64, 'L'));
  EXPECT_EQ(get_text(rec, email::short_text_1), "ab");
  EXPECT_EQ(get(rec, email::report_interval), 0u);
}

}  // namespace
}  // namespace sav3::testing
