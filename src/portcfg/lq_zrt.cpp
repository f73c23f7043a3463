// The supply configuration of an LQ board or a ZRT module: one implementation,
// fed with the module kind's own settings files and its report flags map.
#include "sav3/lq_zrt.h"

#include <span>

#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"

namespace sav3 {

namespace {

struct SupplyConfigSource {
  const char* progcfg_path;
  const char* battery_warning_path;
  std::span<const ReportFlagSource, report_flag_bits> report_flags;
};

constexpr SupplyConfigSource lq_config_source{legacy_progcfg::lq_path, legacy_battery_warning::lq_path,
                                              lq_report_flags};
constexpr SupplyConfigSource zrt_config_source{legacy_progcfg::zrt_path, legacy_battery_warning::zrt_path,
                                               zrt_report_flags};

std::uint32_t report_flags(ConstBytes reportcfg, std::span<const ReportFlagSource, report_flag_bits> map,
                           unsigned n) {
  std::uint32_t flags = 0;
  for (int bit = 0; bit < report_flag_bits; ++bit) {
    const ReportFlagSource& source = map[static_cast<std::size_t>(bit)];
    const bool set =
        source.first_module < 0 ||
        read8(reportcfg, module_slot(static_cast<std::size_t>(source.first_module), source.stride, n)) != 0;
    if (set) flags |= 1u << bit;
  }
  return flags;
}

int convert_supply_config(unsigned port, unsigned n, const SupplyConfigSource& source) {
  std::uint8_t record[supply_config::record_size] = {};
  std::uint8_t sub[supply_config_sub::record_size] = {};
  std::uint8_t progcfg[legacy_progcfg::record_size] = {};
  std::uint8_t warning[legacy_battery_warning::record_size] = {};
  std::uint8_t email[legacy_emailcfg::record_size] = {};
  std::uint8_t reportcfg[legacy_reportcfg::record_size] = {};
  std::uint8_t crw[legacy_crw::record_size] = {};
  read_plain_record(source.progcfg_path, progcfg, legacy_progcfg::record_size, 1);
  read_plain_record(source.battery_warning_path, warning, legacy_battery_warning::record_size, 1);
  read_plain_record(legacy_emailcfg::path, email, legacy_emailcfg::record_size, 1);
  read_plain_record(legacy_reportcfg::path, reportcfg, legacy_reportcfg::record_size, 1);
  read_plain_record(legacy_crw::path, crw, legacy_crw::record_size, 1);

  // A third or fourth supply module has no slots: both records stay zero.
  if (has_legacy_supply_slots(n)) {
    namespace p = legacy_progcfg;
    namespace w = legacy_battery_warning;
    namespace c = supply_config;
    auto slot = [n](std::size_t base) { return module_slot(base, p::stride, n); };
    auto group_slot = [n](std::size_t base) { return module_slot(base, p::group_stride, n); };
    const Bytes out(record);

    const bool switch_on = read8(warning, module_slot(w::warning_switch, w::switch_stride, n)) != 0;
    put(out, c::warning_switch, switch_on ? c::warning_switch_on : 0);
    put_low_bits(out, c::setting_4, read32le(progcfg, slot(p::setting_4)));
    put_low_bits(out, c::setting_5, read32le(progcfg, slot(p::setting_5)));
    put_low_bits(out, c::setting_6, read32le(progcfg, slot(p::setting_6)));
    put_low_bits(out, c::setting_1, read32le(progcfg, slot(p::setting_1)));
    put_low_bits(out, c::setting_2, read32le(progcfg, slot(p::setting_2)));
    put_low_bits(out, c::setting_3, read32le(progcfg, slot(p::setting_3)));
    put_low_bits(out, c::year, read32le(progcfg, slot(p::year)) + p::year_base);
    put_low_bits(out, c::date_second, read32le(progcfg, slot(p::date_second)));
    put_low_bits(out, c::date_third, read32le(progcfg, slot(p::date_third)));
    put_scaled(out, c::warning_duration,
               read_f32le(warning, module_slot(w::warning_hours, w::hours_stride, n)));
    put_bytes(out, c::battery_warning_value, warning, module_slot(w::warning_value, w::block_stride, n));
    put_scaled(out, c::year_span, read_f32le(warning, module_slot(w::year_span, w::block_stride, n)));
    put_bytes(out, c::setting_12, progcfg, group_slot(p::setting_12));
    put(out, c::day_count, days_to_seconds(read32le(progcfg, slot(p::day_count))));
    put_low_bits(out, c::email_byte, read32le(email, legacy_emailcfg::supply_byte));
    put_low_bits(out, c::setting_7, read32le(progcfg, slot(p::setting_7)));
    put(out, c::setting_13_zero, read32le(progcfg, group_slot(p::setting_13)) == 0 ? 1 : 0);
    put(out, c::report_flags, report_flags(reportcfg, source.report_flags, n));

    namespace s = supply_config_sub;
    const Bytes out_sub(sub);
    set_bit_if(out_sub, s::monitor_flags, s::monitor_present_bit,
               read32le(crw, module_slot(legacy_crw::monitor_present, legacy_crw::stride, n)) != 0);
    set_bit_if(out_sub, s::monitor_flags, s::monitor_off_bit,
               read32le(crw, module_slot(legacy_crw::monitor_off, legacy_crw::stride, n)) == 0);
  }

  const int port_result =
      write_headed_file(numbered_path(path::cfg_port, port), record, supply_config::record_size, 1);
  const int sub_result =
      write_headed_file(numbered_path(path::cfg_subport, port), sub, supply_config_sub::record_size, 1);
  return port_result != result::ok ? port_result : sub_result;
}

}  // namespace

int convert_lq_config(unsigned port, unsigned sequence) {
  return convert_supply_config(port, sequence, lq_config_source);
}

int convert_zrt_config(unsigned port, unsigned sequence) {
  return convert_supply_config(port, sequence, zrt_config_source);
}

}  // namespace sav3
