#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/legacy_time.h"
#include "sav3/lq_zrt.h"
#include "supply_live.h"

namespace sav3 {

void fill_supply_settings(Bytes record, ConstBytes progcfg, unsigned n) {
  namespace p = legacy_progcfg;
  namespace r = supply_record;
  auto slot = [&](std::size_t base) { return read32le(progcfg, module_slot(base, p::stride, n)); };
  put_low_bits(record, r::year, slot(p::year) + p::year_base);
  put_low_bits(record, r::date_second, slot(p::date_second));
  put_low_bits(record, r::date_third, slot(p::date_third));
  put_low_bits(record, r::setting_1, slot(p::setting_1));
  put_low_bits(record, r::setting_2, slot(p::setting_2));
  put_low_bits(record, r::setting_3, slot(p::setting_3));
  put_low_bits(record, r::setting_4, slot(p::setting_4));
  put_low_bits(record, r::setting_5, slot(p::setting_5));
  put_low_bits(record, r::setting_6, slot(p::setting_6));
}

namespace {

// The fields both module kinds fill alike: the monitor alarm bit, the
// configured date and the settings, the battery warning values, the reading
// time and the whole sub-record.
void fill_supply_live(Bytes live, Bytes sub, const SupplyLiveInputs& in, unsigned n) {
  namespace p = legacy_progcfg;
  namespace w = legacy_battery_warning;
  namespace l = supply_live;
  using namespace supply_record;
  const std::int32_t time = legacy_time_seconds(text_at(in.controller_item, controller_record::time_text));
  const float warning_value =
      read_f32le(in.battery_warning, module_slot(w::warning_value, w::block_stride, n));

  set_bit_if(live, battery_flags, l::monitor_alarm_bit,
             read32le(in.crw, module_slot(legacy_crw::monitor_alarm, legacy_crw::stride, n)) != 0);
  fill_supply_settings(live, in.progcfg, n);
  put_low_bits(live, setting_7, read32le(in.progcfg, module_slot(p::setting_7, p::stride, n)));
  put_bytes(live, l::setting_8, in.progcfg, module_slot(p::setting_8, p::group_stride, n));
  put_bytes(live, l::setting_9, in.progcfg, module_slot(p::setting_9, p::group_stride, n));
  put_scaled(live, battery_reading_b, read_f32le(in.battery, legacy_supply_battery::reading_b));
  put_scaled(live, l::battery_warning_value, warning_value);
  put_bytes(live, l::setting_10, in.progcfg, module_slot(p::setting_10, p::stride, n));
  put_bytes(live, l::setting_11, in.progcfg, module_slot(p::setting_11, p::stride, n));
  put(live, reading_time, static_cast<std::uint32_t>(time));
  put_scaled(live, l::warning_duration,
             read_f32le(in.battery_warning, module_slot(w::warning_hours, w::hours_stride, n)));
  put_scaled(live, l::battery_warning_value_again, warning_value);
  set_bit_if(live, l::record_flags, l::live_record_bit, true);

  namespace s = supply_live_sub;
  namespace c = legacy_crw;
  // The device alarm count says how many supply modules are in alarm: module n
  // is when the count reaches n.
  set_bit_if(sub, s::sub_flags, s::alarm_bit,
             read32le(in.device_alarm, legacy_device_alarm::alarm_count) >= n);
  set_bit_if(sub, s::sub_flags, s::switched_bit,
             read8(in.mcucfg, legacy_mcucfg::module_switch + (n - 1)) == legacy_mcucfg::switched_on);
  // The same reading as in the live record, here kept signed.
  put_scaled(sub, s::controller_reading, read_f32le(in.controller_item, controller_supply_reading(n)));
  put_scaled(sub, s::monitor_reading_1, read_f32le(in.crw, module_slot(c::monitor_reading_1, c::stride, n)));
  put_scaled(sub, s::monitor_reading_2, read_f32le(in.crw, module_slot(c::monitor_reading_2, c::stride, n)));
  const std::size_t cells = module_slot(c::cells, c::cell_block_stride, n);
  for (std::size_t i = 0; i < s::cell_reading.size(); ++i)
    put_scaled(sub, s::cell_reading[i], read_f32le(in.crw, cells + c::cell_stride * i));
  put_low_bits(sub, s::monitor_count, read32le(in.crw, module_slot(c::monitor_count, c::stride, n)));
  put(sub, s::reading_time, static_cast<std::uint32_t>(time));
}

}  // namespace

int convert_supply_live_data(unsigned port, unsigned n, const SupplyLiveSource& source) {
  std::uint8_t live[supply_live::record_size] = {};
  std::uint8_t sub[supply_live_sub::record_size] = {};
  std::uint8_t progcfg[legacy_progcfg::record_size] = {};
  std::uint8_t warning[legacy_battery_warning::record_size] = {};
  std::uint8_t controller[controller_record::size] = {};
  std::uint8_t crw[legacy_crw::record_size] = {};
  std::uint8_t device_alarm[legacy_device_alarm::record_size] = {};
  std::uint8_t mcucfg[legacy_mcucfg::record_size] = {};
  std::uint8_t item[legacy_zrt_item::record_size] = {};  // the larger of the two item records
  std::uint8_t battery[legacy_supply_battery::record_size] = {};
  read_plain_record(source.progcfg_path, progcfg, legacy_progcfg::record_size, 1);
  read_plain_record(source.battery_warning_path, warning, legacy_battery_warning::record_size, 1);
  read_plain_record(controller_record::item_path, controller, controller_record::size, 1);
  read_plain_record(legacy_crw::path, crw, legacy_crw::record_size, 1);
  read_plain_record(legacy_device_alarm::path, device_alarm, legacy_device_alarm::record_size, 1);
  read_plain_record(legacy_mcucfg::path, mcucfg, legacy_mcucfg::record_size, 1);

  put(live, supply_record::module_type, source.module_type);
  // A third or fourth supply module has no legacy files or slots: only its
  // module type is written.
  if (has_legacy_supply_slots(n)) {
    const Bytes item_record = slice(Bytes(item), 0, static_cast<std::size_t>(source.item_size));
    read_plain_record(numbered_path(source.item_path, n), item_record, source.item_size, 1);
    read_plain_record(numbered_path(source.battery_path, n), battery, legacy_supply_battery::record_size, 1);
    const SupplyLiveInputs in{progcfg, warning, controller, crw, device_alarm, mcucfg, item_record, battery};
    source.fill_module(Bytes(live), in, n);
    fill_supply_live(Bytes(live), Bytes(sub), in, n);
  }

  const int port_result =
      write_headed_file(numbered_path(path::data_port, port), live, supply_live::record_size, 1);
  const int sub_result =
      write_headed_file(numbered_path(path::data_subport, port), sub, supply_live_sub::record_size, 1);
  return port_result != result::ok ? port_result : sub_result;
}

}  // namespace sav3
