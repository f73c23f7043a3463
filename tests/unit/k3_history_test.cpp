#include "sav3/controller_record.h"
#include "sav3/k3.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using K3History = ScratchDevice;
namespace hist = k3_history;
namespace readings = k3_readings;
namespace item = legacy_k3_item;

constexpr std::size_t history_bytes = std::size_t{hist::record_size} * history_records;

// One record of the history payload.
std::vector<std::uint8_t> record_of(const std::vector<std::uint8_t>& payload, int i) {
  const auto from = payload.begin() + static_cast<std::ptrdiff_t>(hist::record_size) * i;
  return std::vector<std::uint8_t>(from, from + hist::record_size);
}

std::vector<std::uint8_t> empty_record() {
  std::vector<std::uint8_t> r(hist::record_size, 0);
  r[0] = 0x04;
  for (int b = 2; b <= 25; ++b) r[b] = 2;
  for (int b = 26; b <= 33; ++b) r[b] = 1;
  return r;
}

// Legacy reports of `count` records, built record by record.
struct Report {
  Report(int record_size, int count) : size(record_size), bytes(std::size_t(record_size) * count) {}
  LegacyRecord at(int i) const {
    LegacyRecord r(size);
    std::copy_n(bytes.bytes.begin() + static_cast<std::ptrdiff_t>(size) * i, size, r.bytes.begin());
    return r;
  }
  void set(int i, const LegacyRecord& r) {
    std::copy(r.bytes.begin(), r.bytes.end(), bytes.bytes.begin() + static_cast<std::ptrdiff_t>(size) * i);
  }
  int size;
  LegacyRecord bytes;
};

std::size_t word(std::size_t group, unsigned i) { return group + item::word_stride * i; }

TEST_F(K3History, NoLegacyFiles) {
  ASSERT_EQ(convert_k3_history(2, 1), result::ok);
  auto payload = headed_payload("/usr/sav3/history/port2", hist::record_size, history_records);
  ASSERT_EQ(payload.size(), history_bytes);
  for (int i = 0; i < history_records; ++i)
    ASSERT_EQ(record_of(payload, i), empty_record()) << "record " << i;
}

TEST_F(K3History, RecordsJoinTheReportsOfTheSameIndex) {
  ZoneScope zone("UTC0");
  Report k3(item::record_size, history_records);
  Report controller(controller_record::size, history_records);
  for (int i : {0, 499, 999}) {
    LegacyRecord r(item::record_size);
    r.f32(item::reading_a + 4 * 0, static_cast<float>(i) / 100.0f + 0.001f)
        .f32(item::reading_b + 4 * 7, 12.34f)
        .f32(item::reading_c + 4 * 3, -0.5f)
        .f32(item::tenths_quantity, 12.5f)
        .text(word(item::state_word_1, 0), "Active")
        .text(word(item::state_word_1, 1), "active")
        .text(word(item::state_word_2, 0), "Inactive")
        .text(word(item::state_word_2, 1), "Active")
        .text(word(item::condition_word, 0), "Normal")
        .text(word(item::condition_word, 1), "normal")
        .text(word(item::condition_word, 2), "Fault")
        .text(word(item::answer_word, 5), "No");
    k3.set(i, r);
  }
  controller.set(0, LegacyRecord(controller_record::size).text(0, "Thu Jan 01 2015 00:00:00"));
  controller.set(499, LegacyRecord(controller_record::size).text(0, "Thu Jan 01 2015 00:08:19"));
  controller.set(999, LegacyRecord(controller_record::size).text(0, "Thu Jan 01 2015 00:16:39"));
  controller.set(500, LegacyRecord(controller_record::size).text(0, "not a time"));
  put_file("/usr/sav/data/K3DataItemReport2.txt", k3.bytes.bytes);
  put_file(controller_record::report_path, controller.bytes.bytes);
  // The first module's report must not be taken for the second's.
  put_file("/usr/sav/data/K3DataItemReport1.txt", Report(item::record_size, history_records).bytes.bytes);

  LegacyRecord ext(legacy_k3_extension::record_size);
  for (std::size_t b = 0; b < ext.bytes.size(); ++b) ext.u8(b, static_cast<std::uint8_t>(b));
  put_file(legacy_k3_extension::path, ext.bytes);
  using namespace legacy_k3_config;
  LegacyRecord config(record_size);
  for (unsigned j = 0; j < small_setting_count; ++j) config.u32(small_settings + 4 * j, 300 + j);
  config.f32(setting_a + 4 * 0, 1.5f).f32(setting_b + 4 * 1, 2.0f).f32(setting_c + 4 * 2, -1.0f);
  config.f32(setting_d + 4 * 7, 655.36f);
  put_file("/mnt/1/cfg/K3cfg_2", config.bytes);
  put_file("/mnt/1/cfg/K3Enablecfg_2", LegacyRecord(legacy_k3_settings::record_size).u32(0, 5).bytes);
  put_file("/mnt/1/cfg/K3Enablecfg_1", LegacyRecord(legacy_k3_settings::record_size).u32(0, 0xFF).bytes);

  ASSERT_EQ(convert_k3_history(1, 2), result::ok);
  auto payload = headed_payload("/usr/sav3/history/port1", hist::record_size, history_records);
  ASSERT_EQ(payload.size(), history_bytes);

  const std::int32_t times[3] = {1420070400, 1420070400 + 499, 1420070400 + 999};
  int n = 0;
  for (int i : {0, 499, 999}) {
    auto rec = record_of(payload, i);
    SCOPED_TRACE(i);
    EXPECT_EQ(get(rec, readings::module_type), 4u);
    EXPECT_EQ(get(rec, readings::tenths_quantity), 125u);
    EXPECT_EQ(get(rec, readings::reading_a[0]), static_cast<std::uint32_t>(i));
    EXPECT_EQ(get(rec, readings::reading_b[7]), 1234u);
    EXPECT_EQ(get(rec, readings::reading_c[3]), 0u);
    EXPECT_EQ(get(rec, readings::state_1[0]), 1u);
    EXPECT_EQ(get(rec, readings::state_1[1]), 2u);
    EXPECT_EQ(get(rec, readings::state_2[0]), 0u);
    EXPECT_EQ(get(rec, readings::state_2[1]), 1u);
    EXPECT_EQ(get(rec, readings::state_2[2]), 2u);
    EXPECT_EQ(get(rec, readings::condition[0]), 1u);
    EXPECT_EQ(get(rec, readings::condition[1]), 2u);
    EXPECT_EQ(get(rec, readings::condition[2]), 0u);
    EXPECT_EQ(get(rec, readings::answer[5]), 0u);
    EXPECT_EQ(get(rec, readings::answer[4]), 1u);
    EXPECT_EQ(get_signed(rec, hist::record_time), times[n++]);
  }
  // A record between them has no readings but the same settings.
  auto middle = record_of(payload, 500);
  const auto empty = empty_record();
  EXPECT_TRUE(std::equal(middle.begin(), middle.begin() + readings::size, empty.begin()));
  EXPECT_EQ(get_signed(middle, hist::record_time), 0) << "a text that does not parse";

  auto first = record_of(payload, 0);
  for (unsigned j = 0; j < 40; ++j) EXPECT_EQ(get(first, hist::small_setting[j]), (300 + j) & 0xFFu);
  EXPECT_EQ(get(first, hist::small_setting[0]), 44u);
  EXPECT_EQ(get(first, k3_settings::setting(hist::settings, 0, 0)), 150u);
  EXPECT_EQ(get(first, k3_settings::setting(hist::settings, 1, 1)), 200u);
  EXPECT_EQ(get(first, k3_settings::setting(hist::settings, 2, 2)), 0u);
  EXPECT_EQ(get(first, k3_settings::setting(hist::settings, 3, 7)), 0u);
  const std::uint8_t enabled[8] = {1, 0, 1, 0, 0, 0, 0, 0};
  for (unsigned k = 0; k < 8; ++k) EXPECT_EQ(get(first, hist::enabled[k]), enabled[k]) << "output " << k;
  // The second module: block 1 at bytes 32 to 63, block 2 at 128 to 159.
  for (unsigned k = 0; k < 8; ++k) {
    EXPECT_EQ(get(first, hist::extension_1[k]), read32le(ext.bytes, 32 + 4 * k));
    EXPECT_EQ(get(first, hist::extension_2[k]), read32le(ext.bytes, 128 + 4 * k));
  }
  // Bytes 82 to 257 are the same in every record; the reserved bytes are zero.
  for (int i = 1; i < history_records; ++i) {
    auto rec = record_of(payload, i);
    ASSERT_TRUE(std::equal(rec.begin() + 82, rec.begin() + 258, first.begin() + 82)) << "record " << i;
    ASSERT_EQ(get(rec, hist::reserved_1), 0u);
    ASSERT_EQ(get(rec, hist::reserved_2), 0u);
  }
}

TEST_F(K3History, EnableWord256EnablesNothing) {
  put_file("/mnt/1/cfg/K3Enablecfg_1", LegacyRecord(legacy_k3_settings::record_size).u32(0, 256).bytes);
  ASSERT_EQ(convert_k3_history(3, 1), result::ok);
  auto payload = headed_payload("/usr/sav3/history/port3", hist::record_size, history_records);
  ASSERT_EQ(payload.size(), history_bytes);
  EXPECT_EQ(record_of(payload, 0), empty_record());
  EXPECT_EQ(record_of(payload, 999), empty_record());
}

TEST_F(K3History, ShortReportsAndRecordsWithoutTerminator) {
  ZoneScope zone("UTC0");
  // Ten K3 records whose every byte is a letter: no word ends inside its 10 bytes.
  Report k3(item::record_size, 10);
  std::fill(k3.bytes.bytes.begin(), k3.bytes.bytes.end(), 'A');
  k3.set(9, LegacyRecord(item::record_size).raw(0, std::string(item::record_size, 'N')));
  put_file("/usr/sav/data/K3DataItemReport1.txt", k3.bytes.bytes);
  // A cut controller report: record 4 runs to its end without NUL after a valid time.
  Report controller(controller_record::size, 5);
  LegacyRecord last(controller_record::size);
  last.raw(0, "Thu Jan 01 2015 00:00:10" + std::string(controller_record::size, 'x'));
  controller.set(4, last);
  put_file(controller_record::report_path, controller.bytes.bytes);

  ASSERT_EQ(convert_k3_history(1, 1), result::ok);
  auto payload = headed_payload("/usr/sav3/history/port1", hist::record_size, history_records);
  ASSERT_EQ(payload.size(), history_bytes);
  for (int i : {0, 9}) {
    auto rec = record_of(payload, i);
    for (unsigned k = 0; k < 8; ++k) {
      EXPECT_EQ(get(rec, readings::state_1[k]), 2u);
      EXPECT_EQ(get(rec, readings::state_2[k]), 2u);
      EXPECT_EQ(get(rec, readings::condition[k]), 2u);
      EXPECT_EQ(get(rec, readings::answer[k]), 1u) << "\"No\" without its NUL is not No";
    }
  }
  EXPECT_EQ(get_signed(record_of(payload, 4), hist::record_time), 1420070410);
  EXPECT_EQ(get_signed(record_of(payload, 3), hist::record_time), 0);
  // Past the end of both reports: converted from zeros.
  EXPECT_EQ(record_of(payload, 10), empty_record());
  EXPECT_EQ(record_of(payload, 999), empty_record());
}

TEST_F(K3History, FourthModuleHasNoFirstTableBlock) {
  LegacyRecord ext(legacy_k3_extension::record_size);
  for (std::size_t b = 0; b < ext.bytes.size(); ++b) ext.u8(b, static_cast<std::uint8_t>(b + 1));
  put_file(legacy_k3_extension::path, ext.bytes);
  ASSERT_EQ(convert_k3_history(4, 4), result::ok);
  auto payload = headed_payload("/usr/sav3/history/port4", hist::record_size, history_records);
  ASSERT_EQ(payload.size(), history_bytes);
  auto expected = empty_record();
  for (unsigned b = 0; b < 32; ++b)
    expected[hist::extension_2[0].offset + b] = static_cast<std::uint8_t>(192 + b + 1);
  EXPECT_EQ(record_of(payload, 0), expected) << "block 2 from bytes 192 to 223, block 1 zero";
  EXPECT_EQ(record_of(payload, 999), expected);
}

TEST_F(K3History, EveryCallStartsFromZero) {
  put_file("/mnt/1/cfg/K3Enablecfg_1", LegacyRecord(legacy_k3_settings::record_size).u32(0, 0xFF).bytes);
  put_file("/usr/sav/data/K3DataItemReport1.txt",
           LegacyRecord(item::record_size * history_records).f32(item::tenths_quantity, 1.0f).bytes);
  ASSERT_EQ(convert_k3_history(1, 1), result::ok);
  // The second module has no files: nothing of the first may remain.
  ASSERT_EQ(convert_k3_history(2, 2), result::ok);
  auto payload = headed_payload("/usr/sav3/history/port2", hist::record_size, history_records);
  ASSERT_EQ(payload.size(), history_bytes);
  EXPECT_EQ(record_of(payload, 0), empty_record());
}

}  // namespace
}  // namespace sav3::testing
