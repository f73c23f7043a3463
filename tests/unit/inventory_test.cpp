#include "sav3/inventory.h"

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>
#include <vector>

#include "scratch_device.h"

namespace sav3::testing {
namespace {

using Inventory = ScratchDevice;

std::vector<std::pair<char, std::pair<unsigned, unsigned>>> g_calls;
int record_lq(unsigned p, unsigned n) {
  g_calls.push_back({'L', {p, n}});
  return 0;
}
int record_zrt(unsigned p, unsigned n) {
  g_calls.push_back({'Z', {p, n}});
  return 0;
}
int record_k3(unsigned p, unsigned n) {
  g_calls.push_back({'K', {p, n}});
  return p == 4 ? result::payload_failed : 0;
}

TEST_F(Inventory, MissingDisplayGivesControllerOnly) {
  ASSERT_EQ(build_device_inventory(), result::ok);
  auto rec = headed_payload(path::inventory, 38, 1);
  std::vector<std::uint8_t> expected(38, 0);
  expected[0] = 1;
  expected[33] = 1;
  EXPECT_EQ(rec, expected);
}

TEST_F(Inventory, SlotsCountsAndTheItemRecordsRead) {
  // Ports 1..4 hold LQ, K3, ZRT, LQ; slot values 0, 5 and 255 are ignored.
  put_file(path::device_display, {1, 4, 0, 5, 255, 0, 2, 0, 0, 3, 3, 3, 3, 0, 0});
  put_file("/mnt/1/cfg/LQDataItemTmp_1.txt", LegacyRecord(184).text(55, "Yes").bytes);
  put_file("/mnt/1/cfg/LQDataItemTmp_2.txt", LegacyRecord(184).text(55, "Yes").bytes);
  put_file("/mnt/1/cfg/ZrtDataItemTmp_1", LegacyRecord(296).text(90, "No").bytes);
  put_file("/mnt/1/cfg/ZrtDataItemTmp_2", LegacyRecord(296).bytes);
  ASSERT_EQ(build_device_inventory(), result::ok);
  auto rec = headed_payload(path::inventory, 38, 1);
  EXPECT_EQ(get(rec, inventory::port_code[1]), module_code::lq);
  EXPECT_EQ(get(rec, inventory::port_code[2]), module_code::k3);
  EXPECT_EQ(get(rec, inventory::port_code[3]), module_code::zrt);
  EXPECT_EQ(get(rec, inventory::port_code[4]), module_code::lq);
  EXPECT_EQ(get(rec, inventory::lq_count), 2u);
  EXPECT_EQ(get(rec, inventory::zrt_count), 1u);
  EXPECT_EQ(get(rec, inventory::k3_count), 1u);
  EXPECT_EQ(get(rec, inventory::fifth_count), 0u);
  EXPECT_EQ(get(rec, inventory::option_flag), 0u) << "ZRT item record 1 (its own count) says No";
}

TEST_F(Inventory, LaterGroupsWinOnTheSamePort) {
  // Port 1: LQ, fifth kind, K3 and ZRT all claim it; port 2: LQ and fifth; port 3: fifth and K3.
  put_file(path::device_display, {1, 2, 0, 1, 2, 3, 1, 3, 0, 0, 0, 0, 1, 0, 0});
  ASSERT_EQ(build_device_inventory(), result::ok);
  auto rec = headed_payload(path::inventory, 38, 1);
  EXPECT_EQ(rec[1], module_code::zrt);
  EXPECT_EQ(rec[2], module_code::fifth);
  EXPECT_EQ(rec[3], module_code::k3);
  EXPECT_EQ(rec[4], module_code::none);
  EXPECT_EQ(get(rec, inventory::fifth_count), 1u);
}

TEST_F(Inventory, OnlyTheExactTextNoClearsTheOptionFlag) {
  put_file(path::device_display, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  for (const char* text : {"Yes", "no", "NO", "Nope", "", "No "}) {
    put_file("/mnt/1/cfg/LQDataItemTmp_1.txt", LegacyRecord(184).text(55, text).bytes);
    build_device_inventory();
    EXPECT_EQ(headed_payload(path::inventory, 38, 1)[33], 1) << '"' << text << '"';
  }
  put_file("/mnt/1/cfg/LQDataItemTmp_1.txt", LegacyRecord(184).text(55, "No").raw(58, "junk").bytes);
  build_device_inventory();
  EXPECT_EQ(headed_payload(path::inventory, 38, 1)[33], 0);
  // A record too short to reach the field reads as zeros: the flag stays.
  put_file("/mnt/1/cfg/LQDataItemTmp_1.txt", {'N', 'o', 0});
  build_device_inventory();
  EXPECT_EQ(headed_payload(path::inventory, 38, 1)[33], 1);
}

TEST_F(Inventory, DispatchWalksWithSharedAndK3Counts) {
  put_file(path::device_display, {1, 4, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3, 0, 0});
  build_device_inventory();
  g_calls.clear();
  const ModuleConverters table{record_lq, record_zrt, record_k3};
  EXPECT_EQ(dispatch_ports(table), 0);
  using Call = std::pair<char, std::pair<unsigned, unsigned>>;
  EXPECT_EQ(g_calls, (std::vector<Call>{{'L', {1, 1}}, {'K', {2, 1}}, {'Z', {3, 2}}, {'L', {4, 3}}}));
}

TEST_F(Inventory, DispatchSkipsFifthKindAndReportsFailures) {
  // Port 1 fifth kind, ports 2..4 K3: the converter for port 4 fails.
  put_file(path::device_display, {0, 0, 0, 1, 0, 0, 2, 3, 4, 0, 0, 0, 0, 0, 0});
  build_device_inventory();
  EXPECT_EQ(headed_payload(path::inventory, 38, 1)[37], 1);
  g_calls.clear();
  EXPECT_EQ(dispatch_ports({record_lq, record_zrt, record_k3}), result::payload_failed);
  using Call = std::pair<char, std::pair<unsigned, unsigned>>;
  EXPECT_EQ(g_calls, (std::vector<Call>{{'K', {2, 1}}, {'K', {3, 2}}, {'K', {4, 3}}}));
}

TEST_F(Inventory, DispatchWithoutInventoryCallsNothing) {
  g_calls.clear();
  EXPECT_EQ(dispatch_ports({record_lq, record_zrt, record_k3}), 0);
  EXPECT_TRUE(g_calls.empty());
}

// The two numberings of one inventory: the dispatches' (LQ boards and ZRT
// modules share a count) and the inventory pass's (every kind apart).
TEST(PortPlan, TwoCountingRules) {
  using Module = std::tuple<unsigned, unsigned, unsigned>;  // port, kind, sequence
  const struct {
    std::array<std::uint8_t, 5> codes;  // inventory bytes 0..4
    std::vector<Module> shared, by_kind;
  } cases[] = {
      {{1, 2, 4, 3, 2},
       {{1, 2, 1}, {2, 4, 1}, {3, 3, 2}, {4, 2, 3}},
       {{1, 2, 1}, {2, 4, 1}, {3, 3, 1}, {4, 2, 2}}},
      {{1, 5, 3, 3, 0}, {{2, 3, 1}, {3, 3, 2}}, {{1, 5, 1}, {2, 3, 1}, {3, 3, 2}}},
      {{1, 1, 6, 0, 4}, {{4, 4, 1}}, {{4, 4, 1}}},  // codes 1 and 6 on a module port take no number
      {{0, 0, 0, 0, 0}, {}, {}},
  };
  for (const auto& c : cases) {
    std::uint8_t record[38] = {};
    std::copy(c.codes.begin(), c.codes.end(), record);
    for (const auto& [rule, expected] :
         {std::pair{&shared_supply_numbering, c.shared}, std::pair{&numbering_by_kind, c.by_kind}}) {
      std::vector<Module> got;
      for (const PlannedModule& m : plan_ports(record, rule)) got.emplace_back(m.port, m.kind, m.sequence);
      EXPECT_EQ(got, expected) << int{c.codes[1]} << int{c.codes[2]} << int{c.codes[3]} << int{c.codes[4]};
    }
  }
}

}  // namespace
}  // namespace sav3::testing
