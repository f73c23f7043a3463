#include "sav3/alarm.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_text.h"
#include "sav3/output_files.h"
#include "sav3/work_area.h"

namespace sav3 {

namespace {
// The whole new history and the whole controller report at once. The history
// starts from zeros; the read fills the report whole.
struct AlarmHistoryBuffers {
  std::uint8_t history[alarm_history::size * history_records];
  std::uint8_t report[controller_record::size * history_records];
};
}  // namespace

void read_system_version(Bytes field) {
  put_text(field, 0, field.size(), {});
  std::FILE* file = open_legacy_file(legacy_sysver::path);
  if (file == nullptr) return;
  char line[32];
  read_line(file, line);
  close_legacy_file(file, legacy_sysver::path);
  std::string_view text = text_in(line, sizeof line);
  if (text.size() <= legacy_sysver::skipped) return;
  text.remove_prefix(legacy_sysver::skipped);
  text = text.substr(0, text.find('\n'));
  put_text(field, 0, field.size(), text.substr(0, legacy_sysver::kept));
}

int convert_alarm_history() {
  namespace hist = alarm_history;
  AlarmHistoryBuffers& buf = take_work_area<AlarmHistoryBuffers>(offsetof(AlarmHistoryBuffers, report));
  std::uint8_t inventory_record[inventory::record_size] = {};
  read_headed_file_if_present(path::inventory, inventory_record, inventory::record_size, 1);
  read_plain_record_filled_if_present(controller_record::report_path, buf.report, controller_record::size,
                                      history_records);
  // The K3 configuration records do not change during the run: read once.
  const K3ConfiguredOutputs k3 = read_k3_configured_outputs(inventory_record);
  std::uint8_t version[hist::version.width] = {};
  read_system_version(version);

  for (int i = 0; i < history_records; ++i) {
    const ConstBytes moment =
        slice(ConstBytes(buf.report), std::size_t{controller_record::size} * i, controller_record::size);
    const Bytes record = slice(Bytes(buf.history), std::size_t{hist::size} * i, hist::size);
    put_bytes(record, hist::inventory_copy, inventory_record, 0);
    build_alarm_state(slice(record, hist::state.offset, hist::state.width), moment, inventory_record, k3);
    put_bytes(record, hist::version, version, 0);
  }
  return code(write_output(Output::alarm_history, 0, buf.history));
}

}  // namespace sav3
