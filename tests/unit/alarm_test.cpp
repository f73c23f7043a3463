#include "sav3/alarm.h"

#include <chrono>
#include <cstring>

#include "sav3/controller_record.h"
#include "sav3/inventory.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

namespace legacy = controller_record;
namespace state = alarm_state;
namespace hist = alarm_history;

class Alarm : public ScratchDevice {
 protected:
  // The device inventory as the inventory pass writes it: port codes 1..4.
  void put_inventory(std::initializer_list<std::uint8_t> ports) {
    std::vector<std::uint8_t> rec(inventory::record_size, 0);
    rec[0] = module_code::controller;
    std::size_t p = 1;
    for (std::uint8_t code : ports) rec[p++] = code;
    rec[33] = 1;
    ASSERT_EQ(write_headed_file(path::inventory, rec, inventory::record_size, 1), FileResult::ok);
  }
  // A K3 configuration record whose outputs `configured` hold a non-zero word.
  void put_k3_config(unsigned k, std::initializer_list<std::pair<unsigned, std::uint32_t>> configured) {
    LegacyRecord cfg(legacy_k3_config::record_size);
    for (std::size_t off = 0; off < cfg.bytes.size(); ++off)
      cfg.bytes[off] = 0x11;  // every other setting set
    for (unsigned j = 0; j < 8; ++j) cfg.u32(legacy_k3_config::configured_group + 4 * j, 0);
    for (auto [j, word] : configured) cfg.u32(legacy_k3_config::configured_group + 4 * j, word);
    put_file(numbered_path(legacy_k3_config::path_format, k).text, cfg.bytes);
  }
  std::vector<std::uint8_t> alarm_state_record() { return headed_payload(state::path, state::size, 1); }
  static std::vector<std::uint8_t> block(const std::vector<std::uint8_t>& rec, unsigned port) {
    const Field& f = state::port_block[port - 1];
    return std::vector<std::uint8_t>(rec.begin() + f.offset, rec.begin() + f.offset + f.width);
  }
  static std::vector<std::uint8_t> block_with(
      std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
    std::vector<std::uint8_t> b(state::block_size, 0);
    for (auto [off, v] : bytes) b[off] = v;
    return b;
  }
};

TEST_F(Alarm, StateWithNoInputsIsAllZero) {
  ASSERT_EQ(convert_alarm_state(), result::ok);
  EXPECT_EQ(alarm_state_record(), std::vector<std::uint8_t>(state::size, 0));
}

TEST_F(Alarm, ControllerAlarmWordFromFlagsAAndB) {
  struct Case {
    std::uint8_t a, b;
    std::uint16_t word;
  };
  const Case cases[] = {
      {0x00, 0x05, 0x0005},  // bits 0-1 = 1 and bits 2-3 = 1
      {0x82, 0x00, 0x1102},  // A bit 7 gives 2; A bit 1 feeds bits 7-8 and 11-12
      {0x06, 0x00, 0x1080},  // A bit 2 wins over A bit 1 at bits 7-8, not at 11-12
      {0x80, 0x01, 0x0001},  // B bit 0 wins over A bit 7
      {0x00, 0x06, 0x0004},  // B bit 2 wins over B bit 1
      {0x00, 0x02, 0x0008}, {0x01, 0x00, 0x0010},
      {0x18, 0x00, 0x0200},  // A bit 4 wins over A bit 3
      {0x08, 0x00, 0x0400}, {0x40, 0x00, 0x0800},
      {0x42, 0x00, 0x0900},  // A bit 6 wins at 11-12, A bit 1 still gives 2 at 7-8
      {0x20, 0xF8, 0x0000},  // A bit 5 and B bits 3..7 are not used
  };
  for (const Case& c : cases) {
    put_file(legacy::item_path,
             LegacyRecord(legacy::size).u8(legacy::alarm_a, c.a).u8(legacy::alarm_b, c.b).bytes);
    ASSERT_EQ(convert_alarm_state(), result::ok);
    auto rec = alarm_state_record();
    EXPECT_EQ(get(rec, state::controller_word), c.word) << std::hex << int{c.a} << " " << int{c.b};
    for (std::size_t off = 2; off < state::size; ++off) ASSERT_EQ(rec[off], 0) << off;
  }
}

TEST_F(Alarm, WalkK3LqZrtLq) {
  ZoneScope zone("UTC0");
  put_inventory({module_code::k3, module_code::lq, module_code::zrt, module_code::lq});
  put_k3_config(1, {{0, 1}, {7, 0x80000000}});
  LegacyRecord item(legacy::size);
  item.text(legacy::time_text, "Mon Jan 05 2015 10:20:30")
      .u8(legacy::alarm_supply, 0x50)      // first LQ/ZRT module: G = 0x50
      .u8(legacy::alarm_supply + 1, 0x0F)  // second: G bits 0..3
      .u8(legacy::alarm_k3 + 0, 0x13)      // K3 module 1, output 0
      .u8(legacy::alarm_k3 + 7, 0x7F)      // K3 module 1, output 7
      .u8(legacy::alarm_k3 + 8, 0xFF)      // K3 module 2: there is none
      .u8(legacy::alarm_shared, 0x1D);     // D: bit 0; first module bit 2; second bits 3 and 4
  put_file(legacy::item_path, item.bytes);

  ASSERT_EQ(convert_alarm_state(), result::ok);
  auto rec = alarm_state_record();
  ASSERT_EQ(rec.size(), std::size_t{state::size});
  EXPECT_EQ(block(rec, 1), block_with({{1, 0x43}, {15, 0x4F}, {16, 0x01}})) << "K3 module 1";
  EXPECT_EQ(block(rec, 2), block_with({{0, 0x90}, {1, 0x11}})) << "first supply module: G = 0x50, D code 2";
  EXPECT_EQ(block(rec, 3), block_with({{0, 0x0E}, {1, 0x0A}})) << "second supply module: D bit 3 wins";
  EXPECT_EQ(block(rec, 4), block_with({})) << "a third LQ/ZRT module has no block";
  EXPECT_EQ(get(rec, state::shared_flag), 1u);
  EXPECT_EQ(get_signed(rec, state::state_time), 1420453230);
  EXPECT_EQ(get(rec, state::controller_word), 0u);
  for (std::size_t off = state::reserved_blocks.offset; off < state::state_time.offset; ++off)
    if (off != state::shared_flag.offset) {
      ASSERT_EQ(rec[off], 0) << off;
    }
}

TEST_F(Alarm, SupplyBlockBits) {
  put_inventory({module_code::zrt, module_code::fifth, module_code::none, module_code::lq});
  struct Case {
    std::uint8_t g, d;
    std::uint8_t first_0, first_1, second_0, second_1;
  };
  const Case cases[] = {
      {0x01, 0x00, 0x02, 0x00, 0x02, 0x00}, {0x02, 0x00, 0x04, 0x00, 0x04, 0x00},
      {0x04, 0x00, 0x08, 0x00, 0x08, 0x00}, {0x08, 0x00, 0x00, 0x02, 0x00, 0x02},
      {0x10, 0x00, 0x10, 0x00, 0x10, 0x00}, {0x20, 0x00, 0x40, 0x00, 0x40, 0x00},
      {0x40, 0x00, 0x80, 0x01, 0x80, 0x01}, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x00, 0x06, 0x00, 0x08, 0x00, 0x00},  // first module: D bit 1 wins over bit 2
      {0x00, 0x04, 0x00, 0x10, 0x00, 0x00}, {0x00, 0x18, 0x00, 0x00, 0x00, 0x08},
      {0x00, 0x10, 0x00, 0x00, 0x00, 0x10}, {0x00, 0xE1, 0x00, 0x00, 0x00, 0x00},
  };
  for (const Case& c : cases) {
    put_file(legacy::item_path, LegacyRecord(legacy::size)
                                    .u8(legacy::alarm_supply, c.g)
                                    .u8(legacy::alarm_supply + 1, c.g)
                                    .u8(legacy::alarm_shared, c.d)
                                    .bytes);
    ASSERT_EQ(convert_alarm_state(), result::ok);
    auto rec = alarm_state_record();
    SCOPED_TRACE(::testing::Message() << std::hex << "G " << int{c.g} << " D " << int{c.d});
    EXPECT_EQ(block(rec, 1), block_with({{0, c.first_0}, {1, c.first_1}}));
    EXPECT_EQ(block(rec, 2), block_with({})) << "fifth kind";
    EXPECT_EQ(block(rec, 4), block_with({{0, c.second_0}, {1, c.second_1}}))
        << "LQ after a ZRT is the second";
  }
}

TEST_F(Alarm, FourK3ModulesAndTheirConfigurations) {
  put_inventory({module_code::k3, module_code::k3, module_code::k3, module_code::k3});
  put_k3_config(1, {{0, 5}});
  // No K3cfg_2: its outputs are unconfigured but keep their alarm bits.
  put_k3_config(3, {{2, 0x00010000}, {3, 1}});
  put_k3_config(4, {{0, 1}, {1, 1}});  // a fourth module has no legacy slot
  LegacyRecord item(legacy::size);
  for (unsigned k = 1; k <= 3; ++k)
    for (unsigned j = 0; j < 8; ++j)
      item.u8(legacy::alarm_k3 + 8 * (k - 1) + j, static_cast<std::uint8_t>(k << 4));
  item.u8(legacy::alarm_k3 + 8 + 5, 0x0A).u8(legacy::alarm_k3 + 16 + 6, 0x0C);
  put_file(legacy::item_path, item.bytes);

  ASSERT_EQ(convert_alarm_state(), result::ok);
  auto rec = alarm_state_record();
  std::vector<std::uint8_t> first(17, 0), second(17, 0), third(17, 0);
  for (unsigned j = 0; j < 8; ++j) {
    first[1 + 2 * j] = 0x02;   // F = 0x10
    second[1 + 2 * j] = 0x04;  // F = 0x20
    third[1 + 2 * j] = 0x06;   // F = 0x30
  }
  first[1] |= 0x01;
  second[1 + 2 * 5] = 0x80;  // F = 0x0A: code 2 from bit 1 ...
  second[2 + 2 * 5] = 0x02;  // ... and code 2 from bit 3
  third[1 + 2 * 2] |= 0x01;
  third[1 + 2 * 3] |= 0x01;
  third[1 + 2 * 6] = 0x00;  // F = 0x0C: no bits 4..6, nothing at bits 6-7
  third[2 + 2 * 6] = 0x01;  // bit 2 wins over bit 3
  EXPECT_EQ(block(rec, 1), first);
  EXPECT_EQ(block(rec, 2), second);
  EXPECT_EQ(block(rec, 3), third);
  EXPECT_EQ(block(rec, 4), block_with({}));
}

TEST_F(Alarm, K3OutputFlags0x13) {
  put_inventory({module_code::none, module_code::k3});
  put_k3_config(1, {{4, 9}});
  put_file(legacy::item_path, LegacyRecord(legacy::size).u8(legacy::alarm_k3 + 4, 0x13).bytes);
  ASSERT_EQ(convert_alarm_state(), result::ok);
  EXPECT_EQ(block(alarm_state_record(), 2), block_with({{1 + 2 * 4, 0x43}}));
}

TEST_F(Alarm, MissingItemKeepsTheConfiguredOutputs) {
  put_inventory({module_code::k3});
  put_k3_config(1, {{1, 1}});
  ASSERT_EQ(convert_alarm_state(), result::ok);
  auto rec = alarm_state_record();
  EXPECT_EQ(block(rec, 1), block_with({{3, 0x01}}));
  EXPECT_EQ(get(rec, state::state_time), 0u);
}

// Version files and the field they give.
TEST_F(Alarm, SystemVersionVariants) {
  struct Case {
    std::string file;
    std::string field;
  };
  const Case cases[] = {
      {"Ver. 1.2.3\n", "1.2.3"},
      {"Ver. 1.2.3", "1.2.3"},
      {"Ver. ", ""},
      {"Ver.\n", ""},
      {"Ver. \n", ""},
      {"", ""},
      {"Ver. 1\nVer. 2\n", "1"},
      {std::string("Ver. 1.2\0xyz\n", 13), "1.2"},
      {"Ver. " + std::string(40, '7') + "\n", std::string(26, '7')},
      {"Ver. abcdefghijklmnopqrstuvwxyzABC\n", "abcdefghijklmnopqrstuvwxyz"},
  };
  for (const Case& c : cases) {
    put_text_file(legacy_sysver::path, c.file);
    std::uint8_t field[32];
    std::memset(field, 0xEE, sizeof field);
    read_system_version(field);
    std::vector<std::uint8_t> expected(32, 0);
    std::memcpy(expected.data(), c.field.data(), c.field.size());
    EXPECT_EQ(std::vector<std::uint8_t>(field, field + 32), expected) << c.file;
  }
  std::filesystem::remove(host(legacy_sysver::path));
  std::uint8_t field[32];
  std::memset(field, 0xEE, sizeof field);
  read_system_version(field);
  EXPECT_EQ(std::vector<std::uint8_t>(field, field + 32), std::vector<std::uint8_t>(32, 0));
}

TEST_F(Alarm, HistoryWithOnlyTheVersion) {
  put_text_file(legacy_sysver::path, "Ver. 2.0.1\n");
  ASSERT_EQ(convert_alarm_history(), result::ok);
  auto payload = headed_payload(hist::path, hist::size, history_records);
  ASSERT_EQ(payload.size(), std::size_t{hist::size} * history_records);
  std::vector<std::uint8_t> one(hist::size, 0);
  std::memcpy(&one[hist::version.offset], "2.0.1", 5);
  for (int i = 0; i < history_records; ++i)
    ASSERT_TRUE(std::equal(one.begin(), one.end(), payload.begin() + hist::size * i)) << i;
}

TEST_F(Alarm, HistoryRecordsAreTheAlarmStatesOfTheirMoments) {
  ZoneScope zone("UTC0");
  put_inventory({module_code::k3, module_code::lq, module_code::zrt, module_code::k3});
  put_k3_config(1, {{0, 1}, {6, 1}});
  put_k3_config(2, {{3, 1}});
  put_text_file(legacy_sysver::path, "Ver. 3.4\n");
  // Every alarm byte of every record differs; record 7 holds A = 0x06, B = 0.
  std::vector<std::uint8_t> report(std::size_t{legacy::size} * history_records, 0);
  std::uint32_t seed = 12345;
  for (int i = 0; i < history_records; ++i) {
    std::uint8_t* r = report.data() + std::size_t{legacy::size} * i;
    for (std::size_t off = legacy::alarm_a; off <= legacy::alarm_shared; ++off) {
      seed = seed * 1103515245u + 12345u;
      r[off] = static_cast<std::uint8_t>(seed >> 16);
    }
    if (i % 3 != 2)
      std::snprintf(reinterpret_cast<char*>(r), 32, "Mon Jan 05 2015 10:%02d:%02d", i / 60 % 60, i % 60);
  }
  report[std::size_t{legacy::size} * 7 + legacy::alarm_a] = 0x06;
  report[std::size_t{legacy::size} * 7 + legacy::alarm_b] = 0x00;
  put_file(legacy::report_path, report);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(convert_alarm_history(), result::ok);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  auto payload = headed_payload(hist::path, hist::size, history_records);
  ASSERT_EQ(payload.size(), std::size_t{hist::size} * history_records);
  const auto inventory_bytes = headed_payload(path::inventory, inventory::record_size, 1);

  EXPECT_EQ(payload[hist::size * 7 + 38], 0x80);
  EXPECT_EQ(payload[hist::size * 7 + 39], 0x10);
  for (int i : {0, 1, 2, 7, 500, 998, 999}) {
    SCOPED_TRACE(i);
    // The alarm state of the same moment, built by the state converter.
    put_file(legacy::item_path, std::vector<std::uint8_t>(report.begin() + legacy::size * i,
                                                          report.begin() + legacy::size * (i + 1)));
    ASSERT_EQ(convert_alarm_state(), result::ok);
    auto expected_state = alarm_state_record();
    auto rec =
        std::vector<std::uint8_t>(payload.begin() + hist::size * i, payload.begin() + hist::size * (i + 1));
    EXPECT_TRUE(std::equal(inventory_bytes.begin(), inventory_bytes.end(), rec.begin()));
    EXPECT_TRUE(std::equal(expected_state.begin(), expected_state.end(), rec.begin() + hist::state.offset));
    const std::int32_t time =
        static_cast<std::int32_t>(read32le(rec, hist::state.offset + state::state_time.offset));
    EXPECT_EQ(time, i % 3 == 2 ? 0 : 1420452000 + i / 60 % 60 * 60 + i % 60);
    EXPECT_EQ(get_text(rec, hist::version), "3.4");
    EXPECT_NE(block(expected_state, 1), block_with({})) << "the example exercises the K3 blocks";
  }
}

TEST_F(Alarm, HistoryPastTheEndOfAShortReport) {
  put_inventory({module_code::lq, module_code::k3});
  put_k3_config(1, {{2, 1}});
  std::vector<std::uint8_t> report(std::size_t{legacy::size} * 2, 0xFF);  // no NUL anywhere
  put_file(legacy::report_path, report);
  ASSERT_EQ(convert_alarm_history(), result::ok);
  auto payload = headed_payload(hist::path, hist::size, history_records);
  ASSERT_EQ(payload.size(), std::size_t{hist::size} * history_records);
  auto port_block = [&](int i, unsigned port) {
    const std::size_t at =
        std::size_t{hist::size} * i + hist::state.offset + state::port_block[port - 1].offset;
    return std::vector<std::uint8_t>(payload.begin() + at, payload.begin() + at + 17);
  };
  // Record 1: every alarm bit set, no timestamp (the text has no end).
  EXPECT_EQ(port_block(1, 1), block_with({{0, 0xDE}, {1, 0x0B}}));
  EXPECT_EQ(read32le(payload, hist::size * 1 + hist::state.offset + state::state_time.offset), 0u);
  // Records 2 and 999 come from zeros: only the configured output remains.
  for (int i : {2, 999}) {
    EXPECT_EQ(port_block(i, 1), block_with({})) << i;
    EXPECT_EQ(port_block(i, 2), block_with({{5, 0x01}})) << i;
    EXPECT_EQ(read16le(payload, hist::size * i + hist::state.offset), 0u);
  }
}

}  // namespace
}  // namespace sav3::testing
