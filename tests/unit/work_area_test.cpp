#include "sav3/work_area.h"

#include <gtest/gtest.h>

#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "sav3/k3.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

struct Small {
  std::uint8_t bytes[64];
};
struct Whole {
  std::uint8_t bytes[work_area_size];
};

TEST(WorkArea, EveryTakeStartsFromZeros) {
  Whole& whole = take_work_area<Whole>();
  for (auto& b : whole.bytes) b = 0xA5;
  Small& small = take_work_area<Small>();
  for (std::uint8_t b : small.bytes) EXPECT_EQ(b, 0);
}

using WorkAreaHistories = ScratchDevice;

// A history converted after another one keeps nothing of the first's data.
TEST_F(WorkAreaHistories, NoHistoryInheritsAnothersBytes) {
  std::vector<std::uint8_t> report(std::size_t{controller_record::size} * history_records, 0x41);
  put_file(controller_record::report_path, report);
  std::vector<std::uint8_t> k3_report(std::size_t{legacy_k3_item::record_size} * history_records, 0x42);
  put_file(numbered_path(legacy_k3_item::report_path_format, 1).text, k3_report);
  ASSERT_EQ(convert_k3_history(1, 1), result::ok);

  std::filesystem::remove(host(controller_record::report_path));
  ASSERT_EQ(convert_controller_history(), result::ok);
  const auto history = headed_payload(controller_history::path, controller_history::size, history_records);
  ASSERT_EQ(history.size(), std::size_t{controller_history::size} * history_records);
  // Without a report every record is the one built from zeros: record 999
  // equals record 0, and neither holds the K3 run's bytes.
  for (std::size_t i = 0; i < history.size(); ++i)
    ASSERT_EQ(history[i], history[i % controller_history::size]) << "byte " << i;
  for (std::uint8_t b : history) {
    ASSERT_NE(b, 0x41);
    ASSERT_NE(b, 0x42);
  }
}

}  // namespace
}  // namespace sav3::testing
