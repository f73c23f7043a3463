// The ZRT module's history: the readings of its ZRT report, with the battery
// reading of the same moment (the ZRT history takes no controller reading and
// no setting 7).
#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/lq_zrt.h"
#include "supply_history.h"

namespace sav3 {

namespace {

void fill_zrt_history(Bytes record, const SupplyHistoryInputs& in, unsigned n) {
  // The per-module duration is taken from module n's slot for every n.
  fill_zrt_readings(record, in.report, n);
  const float reading_a = read_f32le(in.battery, legacy_supply_battery::reading_a);
  put_scaled(record, zrt_history::battery_reading_a, reading_a);
  put_scaled(record, zrt_history::battery_reading_a_again, reading_a);
}

constexpr SupplyHistorySource zrt_history_source{
    module_code::zrt,
    legacy_zrt_item::report_path,
    legacy_zrt_item::record_size,
    legacy_supply_extra::zrt_report_path,
    legacy_supply_battery::zrt_report_path,
    legacy_progcfg::zrt_path,
    fill_zrt_history,
};

}  // namespace

int convert_zrt_history(unsigned port, unsigned sequence) {
  return convert_supply_history(port, sequence, zrt_history_source);
}

}  // namespace sav3
