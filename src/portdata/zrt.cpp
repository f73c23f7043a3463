// The ZRT module's live record and the readings step its history shares.
#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/lq_zrt.h"
#include "supply_live.h"

namespace sav3 {

void fill_zrt_readings(Bytes record, ConstBytes item, unsigned n) {
  namespace i = legacy_zrt_item;
  using namespace zrt_readings;
  using supply_record::battery_flags, supply_record::first_duration, supply_record::model,
      supply_record::second_duration, supply_record::state_flags;
  const std::string_view name = text_at(item, i::model);
  // The mode list ends at its first NUL or at the end of the record.
  const std::string_view modes = text_at(item, i::mode_text);
  // The per-module duration slot of module n, 148 + 4n: past the record for
  // large n, where it reads as 0.
  const std::size_t module_hours = i::module_hours_base + i::module_hours_stride * n;

  put(record, model,
      name == "ZRT1"     ? model_zrt1
      : name == "ZRT2"   ? model_zrt2
      : name == "ZRT300" ? model_zrt300
                         : model_other);
  put_low_bits(record, small_count, read32le(item, i::small_count));
  set_bit_if(record, state_flags, answer_1_bit, answer_is(item, i::answer_1, "Yes"));
  set_bit_if(record, state_flags, answer_2_bit, answer_is(item, i::answer_2, "Yes"));
  set_bit_if(record, state_flags, state_1_active_bit, text_at(item, i::state_1) == "Active");
  set_bit_if(record, state_flags, state_2_not_active_bit, text_at(item, i::state_2) != "Active");
  set_bit_if(record, state_flags, dc_mode_bit, text_contains(modes, "DC_Mode"));
  set_bit_if(record, state_flags, enabled_bit, text_at(item, i::enable_word) == "Enable");
  set_bit_if(record, battery_flags, battery_lost_bit, text_contains(modes, "BatLost"));
  put_scaled(record, module_reading_c, read_f32le(item, i::reading_c));
  put_scaled(record, module_reading_b, read_f32le(item, i::reading_b));
  put_scaled(record, module_reading_a, read_f32le(item, i::reading_a));
  put_scaled(record, module_reading_d, read_f32le(item, i::reading_d));
  put(record, first_duration, hours_to_seconds(read32le(item, i::first_hours)));
  put(record, second_duration, hours_to_seconds(read32le(item, module_hours)));
  put_bytes(record, module_value_f, item, i::value_f);
  put_bytes(record, module_value_e, item, i::value_e);
}

namespace {

void fill_zrt_live(Bytes live, const SupplyLiveInputs& in, unsigned n) {
  fill_zrt_readings(live, in.item, n);
  const float reading = read_f32le(in.controller_item, controller_supply_reading(n));
  put_scaled(live, zrt_live::controller_reading, reading);
  put_scaled(live, zrt_live::controller_reading_again, reading);
}

constexpr SupplyLiveSource zrt_live_source{
    module_code::zrt,
    legacy_progcfg::zrt_path,
    legacy_battery_warning::zrt_path,
    legacy_zrt_item::item_path,
    legacy_zrt_item::record_size,
    legacy_supply_battery::zrt_item_path,
    fill_zrt_live,
};

}  // namespace

int convert_zrt_live_data(unsigned port, unsigned sequence) {
  return convert_supply_live_data(port, sequence, zrt_live_source);
}

}  // namespace sav3
