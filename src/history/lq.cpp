// The LQ board's history: the readings of its LQ report, with the battery
// reading and the controller reading of the same moment.
#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/lq_zrt.h"
#include "supply_history.h"

namespace sav3 {

namespace {

void fill_lq_history(Bytes record, const SupplyHistoryInputs& in, unsigned n) {
  fill_lq_readings(record, in.report);
  put_scaled(record, lq_history::battery_reading_a, read_f32le(in.battery, legacy_supply_battery::reading_a));
  // Only modules 1 and 2 have a controller reading and settings slots.
  if (!has_legacy_supply_slots(n)) return;
  put_scaled(record, lq_history::controller_reading, read_f32le(in.controller, controller_supply_reading(n)));
  put_low_bits(record, lq_history::setting_7,
               read32le(in.progcfg, module_slot(legacy_progcfg::setting_7, legacy_progcfg::stride, n)));
}

constexpr SupplyHistorySource lq_history_source{
    module_code::lq,
    legacy_lq_item::report_path,
    legacy_lq_item::record_size,
    legacy_supply_extra::lq_report_path,
    legacy_supply_battery::lq_report_path,
    legacy_progcfg::lq_path,
    fill_lq_history,
};

}  // namespace

int convert_lq_history(unsigned port, unsigned sequence) {
  return convert_supply_history(port, sequence, lq_history_source);
}

}  // namespace sav3
