#include "sav3/controller.h"

#include <cstddef>
#include <cstring>

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/legacy_text.h"
#include "sav3/output_files.h"
#include "sav3/work_area.h"

namespace sav3 {

namespace {
// The whole new history and the whole legacy report at once (one headed
// write). The history starts from zeros; the read fills the report whole.
struct ControllerHistoryBuffers {
  std::uint8_t history[controller_history::size * history_records];
  std::uint8_t report[controller_record::size * history_records];
};
}  // namespace

int convert_controller_history() {
  namespace hist = controller_history;
  namespace legacy = controller_record;
  ControllerHistoryBuffers& buf =
      take_work_area<ControllerHistoryBuffers>(offsetof(ControllerHistoryBuffers, report));
  std::uint8_t pwmcfg[legacy_pwmcfg::record_size] = {};
  std::uint8_t reportcfg[legacy_reportcfg::record_size] = {};
  read_plain_record_filled_if_present(legacy::report_path, buf.report, legacy::size, history_records);
  read_plain_record_if_present(legacy_pwmcfg::path, pwmcfg, legacy_pwmcfg::record_size, 1);
  read_plain_record_if_present(legacy_reportcfg::path, reportcfg, legacy_reportcfg::record_size, 1);

  for (int i = 0; i < history_records; ++i) {
    const ConstBytes moment = slice(ConstBytes(buf.report), std::size_t{legacy::size} * i, legacy::size);
    const Bytes record = slice(Bytes(buf.history), std::size_t{hist::size} * i, hist::size);
    build_controller_live_record(record, moment, pwmcfg);
    set_bit_if(record, hist::switch_flags, hist::switch_1_bit, answer_is(moment, legacy::switch_1, "ON"));
    set_bit_if(record, hist::switch_flags, hist::switch_2_bit, answer_is(moment, legacy::switch_2, "ON"));
    put_controller_limits(record, hist::range, hist::limit, reportcfg);
  }
  return code(write_output(Output::controller_history, 0, buf.history));
}

}  // namespace sav3
