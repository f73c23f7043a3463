// The LQ board's live record and the readings step its history shares.
#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/lq_zrt.h"
#include "supply_live.h"

namespace sav3 {

void fill_lq_readings(Bytes record, ConstBytes item) {
  namespace i = legacy_lq_item;
  using namespace lq_readings;
  using supply_record::battery_flags, supply_record::fault_flags, supply_record::first_duration,
      supply_record::model, supply_record::second_duration, supply_record::state_flags;
  const std::string_view name = text_at(item, i::model);
  // The fault list is searched for each word; one list may set several bits,
  // and it ends at its first NUL or at the end of the record.
  const std::string_view faults = text_at(item, i::fault_text);

  put(record, model, name == "LQA20" ? model_lqa20 : name == "LQB400" ? model_lqb400 : model_other);
  put_scaled(record, tenths_quantity, read_f32le(item, i::tenths));
  set_bit_if(record, state_flags, answer_1_bit, answer_is(item, i::answer_1, "Yes"));
  set_bit_if(record, state_flags, answer_2_bit, answer_is(item, i::answer_2, "Yes"));
  set_bit_if(record, state_flags, state_1_active_bit, text_at(item, i::state_1) == "Active");
  set_bit_if(record, state_flags, state_2_active_bit, text_at(item, i::state_2) == "Active");
  set_bit_if(record, fault_flags, ground_fault_bit, text_contains(faults, "GndFlt"));
  set_bit_if(record, fault_flags, temperature_fault_bit, text_contains(faults, "TemFlt"));
  set_bit_if(record, fault_flags, external_fault_bit, text_contains(faults, "ExtFlt"));
  set_bit_if(record, fault_flags, charge_fault_bit, text_contains(faults, "ChargeFlt"));
  set_bit_if(record, fault_flags, fault_marker_bit, true);
  set_bit_if(record, fault_flags, voltage_fault_bit, text_contains(faults, "VolFlt"));
  set_bit_if(record, battery_flags, battery_lost_bit, text_contains(faults, "BatLost"));
  set_bit_if(record, battery_flags, short_latch_bit, text_contains(faults, "ShortLatch"));
  put_scaled(record, board_reading_b, read_f32le(item, i::reading_b));
  put_scaled(record, board_reading_a, read_f32le(item, i::reading_a));
  put_scaled(record, board_reading_c, read_f32le(item, i::reading_c));
  put(record, first_duration, hours_to_seconds(read32le(item, i::first_hours)));
  put(record, second_duration, hours_to_seconds(read32le(item, i::second_hours)));
  put_bytes(record, board_value_e, item, i::value_e);
  put_bytes(record, board_value_d, item, i::value_d);
}

namespace {

void fill_lq_live(Bytes live, const SupplyLiveInputs& in, unsigned n) {
  fill_lq_readings(live, in.item);
  // One charge mode word for all LQ boards.
  set_bit_if(live, lq_live::state_flags, lq_live::charge_mode_bit,
             text_at(in.battery_warning, legacy_battery_warning::charge_mode) == "charge");
  const float reading = read_f32le(in.controller_item, controller_supply_reading(n));
  put_scaled(live, lq_live::controller_reading, reading);
  put_scaled(live, lq_live::controller_reading_again, reading);
}

constexpr SupplyLiveSource lq_live_source{
    module_code::lq,
    legacy_progcfg::lq_path,
    legacy_battery_warning::lq_path,
    legacy_lq_item::item_path,
    legacy_lq_item::record_size,
    legacy_supply_battery::lq_item_path,
    fill_lq_live,
};

}  // namespace

int convert_lq_live_data(unsigned port, unsigned sequence) {
  return convert_supply_live_data(port, sequence, lq_live_source);
}

}  // namespace sav3
