#include <cstddef>
#include <cstring>

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/legacy_time.h"
#include "sav3/lq_zrt.h"
#include "sav3/work_area.h"
#include "supply_history.h"

namespace sav3 {

namespace {

constexpr std::size_t records = history_records;

// All reports and both histories at once, about 0.7 MB in the histories' work
// area. The new records come first and start from zeros; the reads fill the
// legacy buffers whole. The report area holds the larger ZRT record.
struct SupplyHistoryBuffers {
  std::uint8_t history[supply_history::record_size * records];
  std::uint8_t sub[supply_history_sub::record_size * records];
  std::uint8_t report[legacy_zrt_item::record_size * records];
  std::uint8_t extra[legacy_supply_extra::record_size * records];
  std::uint8_t battery[legacy_supply_battery::record_size * records];
  std::uint8_t controller[controller_record::size * records];
  std::uint8_t progcfg[legacy_progcfg::record_size];
};

// Record i of a buffer of records of `size` bytes.
Bytes record_at(Bytes buffer, std::size_t size, std::size_t i) { return slice(buffer, size * i, size); }

// The fields both module kinds fill alike.
void fill_supply_history(Bytes record, const SupplyHistoryInputs& in, unsigned n) {
  namespace b = legacy_supply_battery;
  namespace e = legacy_supply_extra;
  using namespace supply_history;
  const float reading_c = read_f32le(in.battery, b::reading_c);

  if (has_legacy_supply_slots(n)) fill_supply_settings(record, in.progcfg, n);
  put_bytes(record, battery_value_d, in.battery, b::value_d);
  put_scaled(record, supply_record::battery_reading_b, read_f32le(in.battery, b::reading_b));
  put_scaled(record, battery_reading_c, reading_c);
  put_bytes(record, extra_value_1, in.extra, e::value_1);
  put_bytes(record, extra_value_2, in.extra, e::value_2);
  put(record, supply_record::reading_time,
      static_cast<std::uint32_t>(legacy_time_seconds(text_at(in.controller, controller_record::time_text))));
  put_scaled(record, extra_duration, read_f32le(in.extra, e::hours));
  put_scaled(record, battery_reading_c_again, reading_c);
  put_scaled(record, year_span, read_f32le(in.battery, b::year_span));
  put(record, day_span, days_to_seconds(read32le(in.battery, b::day_span)));
}

}  // namespace

int convert_supply_history(unsigned port, unsigned n, const SupplyHistorySource& source) {
  SupplyHistoryBuffers& buf = take_work_area<SupplyHistoryBuffers>(offsetof(SupplyHistoryBuffers, report));
  const auto report_size = static_cast<std::size_t>(source.report_size);
  read_plain_record_filled_if_present(numbered_path(source.report_path, n), buf.report, source.report_size,
                                      history_records);
  read_plain_record_filled_if_present(numbered_path(source.extra_path, n), buf.extra,
                                      legacy_supply_extra::record_size, history_records);
  read_plain_record_filled_if_present(numbered_path(source.battery_path, n), buf.battery,
                                      legacy_supply_battery::record_size, history_records);
  read_plain_record_filled_if_present(controller_record::report_path, buf.controller, controller_record::size,
                                      history_records);
  read_plain_record_filled_if_present(source.progcfg_path, buf.progcfg, legacy_progcfg::record_size, 1);

  for (std::size_t i = 0; i < records; ++i) {
    const SupplyHistoryInputs in{
        record_at(buf.report, report_size, i),
        record_at(buf.extra, legacy_supply_extra::record_size, i),
        record_at(buf.battery, legacy_supply_battery::record_size, i),
        record_at(buf.controller, controller_record::size, i),
        buf.progcfg,
    };
    const Bytes record = record_at(buf.history, supply_history::record_size, i);
    put(record, supply_record::module_type, source.module_type);
    source.fill_module(record, in, n);
    fill_supply_history(record, in, n);
  }

  const FileResult port_result = write_output(source.history_file, port, buf.history);
  const FileResult sub_result = write_output(Output::supply_history_sub, port, buf.sub);
  return code(first_failure(port_result, sub_result));
}

}  // namespace sav3
