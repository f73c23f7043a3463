#include <chrono>
#include <cstring>

#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using ControllerHistory = ScratchDevice;
namespace hist = controller_history;
namespace live = controller_live;
namespace legacy = controller_record;

std::vector<std::uint8_t> history_record(const std::vector<std::uint8_t>& payload, int i) {
  return std::vector<std::uint8_t>(payload.begin() + hist::size * i, payload.begin() + hist::size * (i + 1));
}

// A report of `count` records, record i holding its own readings and time.
std::vector<std::uint8_t> report_of(int count) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    LegacyRecord r(legacy::size);
    r.text(legacy::time_text, "Mon Jan 05 2015 10:20:30")
        .f32(legacy::reading_a, static_cast<float>(i) / 4.0f)
        .f32(legacy::reading_f, -2.5f)
        .f32(legacy::tenths, 1.2f)
        .text(legacy::state_word, i % 2 ? "Active" : "Inactive")
        .text(legacy::switch_1, i % 3 ? "OFF" : "ON")
        .text(legacy::switch_2, "ON");
    bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
  }
  return bytes;
}

TEST_F(ControllerHistory, NoLegacyFilesGiveAThousandConstantRecords) {
  ASSERT_EQ(convert_controller_history(), result::ok);
  std::vector<std::uint8_t> one(hist::size, 0);
  one[0] = 0x01;
  one[32] = 0xF0;
  one[33] = 0xD8;
  one[34] = 0x10;
  one[35] = 0x27;
  std::vector<std::uint8_t> expected;
  for (int i = 0; i < history_records; ++i) expected.insert(expected.end(), one.begin(), one.end());
  EXPECT_EQ(headed_payload(hist::path, hist::size, history_records), expected);
}

TEST_F(ControllerHistory, EveryRecordFromItsOwnMomentWithTheConfigurationCopies) {
  ZoneScope zone("UTC0");
  put_file(legacy::report_path, report_of(history_records));
  put_file(legacy_pwmcfg::path, LegacyRecord(legacy_pwmcfg::record_size)
                                    .u16(legacy_pwmcfg::pwm_word_1, 7)
                                    .u16(legacy_pwmcfg::pwm_word_2, 9)
                                    .bytes);
  put_file(legacy_reportcfg::path,
           LegacyRecord(legacy_reportcfg::record_size).f32(136, 1.5f).f32(148, -3.0f).bytes);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(convert_controller_history(), result::ok);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(1)) << "a full report converts in a few milliseconds";

  auto payload = headed_payload(hist::path, hist::size, history_records);
  ASSERT_EQ(payload.size(), std::size_t{hist::size} * history_records);
  for (int i : {0, 1, 3, 500, 998, 999}) {
    auto rec = history_record(payload, i);
    SCOPED_TRACE(i);
    EXPECT_EQ(get(rec, live::module_type), 1u);
    EXPECT_EQ(get_signed(rec, live::reading_a), 25 * i);
    EXPECT_EQ(get(rec, live::reading_f) & 0xFFFF, 0xFF06u);
    EXPECT_EQ(get(rec, live::tenths), 12u);
    const std::uint32_t sw1 = i % 3 ? 0 : 1;
    EXPECT_EQ(get(rec, live::state_flags), (i % 2 ? 0x01u : 0u) | sw1 << 1 | 0x04u);
    EXPECT_EQ(get(rec, hist::switch_flags), sw1 | 0x02u);
    EXPECT_EQ(get_signed(rec, live::reading_time), 1420453230);
    EXPECT_EQ(get(rec, live::pwm_word_1), 7u);
    EXPECT_EQ(get(rec, live::pwm_word_2), 9u);
    EXPECT_EQ(get_signed(rec, hist::range[0]), -10000);
    EXPECT_EQ(get_signed(rec, hist::range[1]), 10000);
    EXPECT_EQ(get_signed(rec, hist::limit[0]), 150);
    EXPECT_EQ(get_signed(rec, hist::limit[9]), -300);
    EXPECT_EQ(get(rec, hist::limit[1]), 0u);
    for (const Field& f : {live::reserved_1, live::reserved_2, hist::reserved_3, hist::reserved_4})
      for (unsigned b = 0; b < f.width; ++b) EXPECT_EQ(rec[f.offset + b], 0) << f.name;
  }
}

TEST_F(ControllerHistory, ShortReportLeavesTheLaterRecordsFromZeros) {
  ZoneScope zone("UTC0");
  put_file(legacy::report_path, report_of(3));
  put_file(legacy_reportcfg::path, LegacyRecord(legacy_reportcfg::record_size).f32(132, 2.0f).bytes);
  ASSERT_EQ(convert_controller_history(), result::ok);
  auto payload = headed_payload(hist::path, hist::size, history_records);
  ASSERT_EQ(payload.size(), std::size_t{hist::size} * history_records);
  EXPECT_EQ(get_signed(history_record(payload, 2), live::reading_a), 50);
  for (int i : {3, 4, 999}) {
    auto rec = history_record(payload, i);
    std::vector<std::uint8_t> expected(hist::size, 0);
    expected[0] = 1;
    put(expected, hist::range[0], static_cast<std::uint32_t>(-10000));
    put(expected, hist::range[1], 10000);
    put(expected, hist::limit[1], 200);
    EXPECT_EQ(rec, expected) << i;
  }
}

TEST_F(ControllerHistory, RecordsWithoutAnyNulStayInsideTheirRecord) {
  // Record 0 is "Active" with no terminator up to the end of the record,
  // record 1 is the word Active properly ended, the last record has no NUL at
  // all: its texts end with the buffer.
  std::vector<std::uint8_t> report(std::size_t{legacy::size} * history_records, 0);
  LegacyRecord first(legacy::size);
  first.raw(0, std::string(legacy::size, 'O')).raw(legacy::state_word, "Active");
  LegacyRecord second(legacy::size);
  second.text(legacy::state_word, "Active");
  std::memcpy(report.data(), first.bytes.data(), legacy::size);
  std::memcpy(report.data() + legacy::size, second.bytes.data(), legacy::size);
  std::memset(report.data() + std::size_t{legacy::size} * (history_records - 1), 'N', legacy::size);
  put_file(legacy::report_path, report);
  ASSERT_EQ(convert_controller_history(), result::ok);
  auto payload = headed_payload(hist::path, hist::size, history_records);
  ASSERT_EQ(payload.size(), std::size_t{hist::size} * history_records);
  EXPECT_EQ(get(history_record(payload, 0), live::state_flags), 0u);
  EXPECT_EQ(get(history_record(payload, 0), live::reading_time), 0u);
  EXPECT_EQ(get(history_record(payload, 1), live::state_flags), 0x01u);
  EXPECT_EQ(get(history_record(payload, 999), live::state_flags), 0u);
  EXPECT_EQ(get(history_record(payload, 999), hist::switch_flags), 0u);
}

}  // namespace
}  // namespace sav3::testing
