#include "sav3/controller.h"

#include <cstring>

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/legacy_text.h"

namespace sav3 {

namespace {
// The whole legacy report and the whole new history at once (one headed write).
std::uint8_t g_report[controller_record::size * history_records];
std::uint8_t g_history[controller_history::size * history_records];
}  // namespace

int convert_controller_history() {
  namespace hist = controller_history;
  namespace legacy = controller_record;
  std::memset(g_report, 0, sizeof g_report);
  std::memset(g_history, 0, sizeof g_history);
  std::uint8_t pwmcfg[legacy_pwmcfg::record_size] = {};
  std::uint8_t reportcfg[legacy_reportcfg::record_size] = {};
  read_plain_record(legacy::report_path, g_report, legacy::size, history_records);
  read_plain_record(legacy_pwmcfg::path, pwmcfg, legacy_pwmcfg::record_size, 1);
  read_plain_record(legacy_reportcfg::path, reportcfg, legacy_reportcfg::record_size, 1);

  for (int i = 0; i < history_records; ++i) {
    const ConstBytes moment = slice(ConstBytes(g_report), std::size_t{legacy::size} * i, legacy::size);
    const Bytes record = slice(Bytes(g_history), std::size_t{hist::size} * i, hist::size);
    build_controller_live_record(record, moment, pwmcfg);
    set_bit_if(record, hist::switch_flags, hist::switch_1_bit, answer_is(moment, legacy::switch_1, "ON"));
    set_bit_if(record, hist::switch_flags, hist::switch_2_bit, answer_is(moment, legacy::switch_2, "ON"));
    put_controller_limits(record, hist::range, hist::limit, reportcfg);
  }
  return write_headed_file(hist::path, g_history, hist::size, history_records);
}

}  // namespace sav3
