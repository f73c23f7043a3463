// Every file of the old firmware that the conversions read: one table of the
// path (by the names the record layouts give them), the module kinds whose
// converters read it and how much of it they read. The checks before a run
// and `--check` walk it for the modules of the device's ports; a new legacy
// input is one row here.
#pragma once

#include <cstdint>

#include "sav3/alarm.h"
#include "sav3/bytes.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/k3.h"
#include "sav3/legacy_config.h"
#include "sav3/legacy_file.h"
#include "sav3/lq_zrt.h"
#include "sav3/output_files.h"
#include "sav3/settings_ieee8021x.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_ssl.h"
#include "sav3/settings_tcpip.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/settings_web.h"

namespace sav3 {

struct LegacyInput {
  // The device path; "%d" stands for the module's sequence number (the "_1",
  // "_2" of its files), as the port dispatches number the modules.
  const char* path;
  // module_bit()s of the module kinds whose converters read it; 0 for the
  // inputs of the controller, the inventory and the settings (always read).
  std::uint8_t modules;
  // Of a record, and the records read: the converters read size x count
  // bytes, the rest reads as zeros. Size 0: a text file, read line by line
  // to its end.
  std::uint32_t size;
  std::uint32_t count;
  // Read only when the file before it in the table gives no usable value
  // (a fallback copy): its absence is no news.
  bool fallback = false;
  // Every record starts with a time text ("%a %b %d %Y %X").
  bool time_texts = false;
  // The inventory pass reads it too, numbering each kind apart (a ZRT module
  // after an LQ board is number 2 for the dispatches, number 1 there).
  bool numbered_by_kind = false;

  constexpr std::uint32_t bytes() const { return size * count; }
};

namespace legacy_inputs_table {
inline constexpr std::uint8_t always = 0;
inline constexpr std::uint8_t lq = module_bit(module_code::lq);
inline constexpr std::uint8_t zrt = module_bit(module_code::zrt);
inline constexpr std::uint8_t lq_zrt = lq | zrt;
inline constexpr std::uint8_t k3 = module_bit(module_code::k3);
inline constexpr std::uint32_t history = history_records;
inline constexpr std::uint32_t text = 0;

constexpr LegacyInput row(const char* path, std::uint8_t modules, std::uint32_t size,
                          std::uint32_t count = 1) {
  return {path, modules, size, count};
}
constexpr LegacyInput timed(LegacyInput in) {
  in.time_texts = true;
  return in;
}
constexpr LegacyInput fallback(LegacyInput in) {
  in.fallback = true;
  return in;
}
constexpr LegacyInput by_kind_too(LegacyInput in) {
  in.numbered_by_kind = true;
  return in;
}

// Path, module kinds whose converters read it, record size, records.
inline constexpr LegacyInput rows[] = {
    // clang-format off
    // The inventory, the controller and the settings pages: every device.
    row(path::device_display,                      always, legacy_display::record_size),
    timed(row(controller_record::item_path,        always, controller_record::size)),
    timed(row(controller_record::report_path,      always, controller_record::size, history)),
    row(legacy_pwmcfg::path,                       always, legacy_pwmcfg::record_size),
    row(legacy_mcuassign::path,                    always, legacy_mcuassign::record_size),
    row(legacy_reportcfg::path,                    always, legacy_reportcfg::record_size),
    row(legacy_emailcfg::path,                     always, legacy_emailcfg::record_size),
    row(legacy_battery_warning::lq_path,           always, legacy_battery_warning::record_size),
    row(legacy_sysver::path,                       always, text),
    row(legacy_snmp::agent_config_path,            always, text),
    row(legacy_snmp::trap_version_path,            always, 1),
    row(legacy_snmp::block_path,                   always, legacy_snmp::block_record_size),
    row(legacy_ssl::path,                          always, legacy_ssl::record_size),
    row(legacy_ipcfg::path,                        always, text),
    row(legacy_ntp::path,                          always, legacy_ntp::record_size),
    row(legacy_msm::path,                          always, legacy_msm::record_size),
    fallback(row(legacy_msm::fallback_path,        always, legacy_msm::record_size)),
    row(legacy_vpn::path,                          always, legacy_vpn::record_size),
    row(legacy_ipv6::path,                         always, legacy_ipv6::record_size),
    row(legacy_auth::path,                         always, text),
    row(legacy_auth::password_level_path,          always, legacy_auth::password_level_size),
    row(legacy_lock::path,                         always, legacy_lock::record_size),
    row(legacy_remember_user::path,                always, legacy_remember_user::record_size),
    row(legacy_ieee8021x::path,                    always, legacy_ieee8021x::record_size),
    // The supply modules (LQ boards and ZRT modules; "%d": 1 and 2 only).
    row(legacy_mcucfg::path,                       lq_zrt, legacy_mcucfg::record_size),
    row(legacy_device_alarm::path,                 lq_zrt, legacy_device_alarm::record_size),
    row(legacy_crw::path,                          lq_zrt, legacy_crw::record_size),
    row(legacy_progcfg::lq_path,                   lq,     legacy_progcfg::record_size),
    row(legacy_progcfg::zrt_path,                  zrt,    legacy_progcfg::record_size),
    row(legacy_battery_warning::zrt_path,          zrt,    legacy_battery_warning::record_size),
    by_kind_too(row(legacy_lq_item::item_path,     lq,     legacy_lq_item::record_size)),
    row(legacy_lq_item::report_path,               lq,     legacy_lq_item::record_size, history),
    by_kind_too(row(legacy_zrt_item::item_path,    zrt,    legacy_zrt_item::record_size)),
    row(legacy_zrt_item::report_path,              zrt,    legacy_zrt_item::record_size, history),
    row(legacy_supply_battery::lq_item_path,       lq,     legacy_supply_battery::record_size),
    row(legacy_supply_battery::zrt_item_path,      zrt,    legacy_supply_battery::record_size),
    row(legacy_supply_battery::lq_report_path,     lq,     legacy_supply_battery::record_size, history),
    row(legacy_supply_battery::zrt_report_path,    zrt,    legacy_supply_battery::record_size, history),
    row(legacy_supply_extra::lq_report_path,       lq,     legacy_supply_extra::record_size, history),
    row(legacy_supply_extra::zrt_report_path,      zrt,    legacy_supply_extra::record_size, history),
    // The K3 modules.
    row(legacy_k3_extension::path,                 k3,     legacy_k3_extension::record_size),
    row(legacy_k3_settings::path_format,           k3,     legacy_k3_settings::record_size),
    row(legacy_k3_config::path_format,             k3,     legacy_k3_config::record_size),
    row(legacy_k3_item::item_path_format,          k3,     legacy_k3_item::record_size),
    row(legacy_k3_item::report_path_format,        k3,     legacy_k3_item::record_size, history),
    // clang-format on
};
}  // namespace legacy_inputs_table

inline constexpr std::span<const LegacyInput> legacy_inputs = legacy_inputs_table::rows;

// The legacy inputs of a device with the inventory record `inventory` (as
// fill_device_inventory makes it), each path once, in table order: the
// always-read ones, then those of the module kinds on its ports, numbered
// as the converters number them. Returns how many were put in `out`.
inline constexpr std::size_t max_legacy_inputs = 96;  // of one device: the rows, 4 modules' numbered ones
struct NamedLegacyInput {
  char path[96];  // as ReadFailure keeps it
  const LegacyInput* input;
};
std::size_t legacy_inputs_of(ConstBytes inventory, std::span<NamedLegacyInput> out);

// What reading an input as the converters read it found: whether it is
// there, the bytes read of those wanted (a text file: all of it), and the
// records whose time text does not parse (they convert as 0).
struct InputReading {
  LegacyLook look;
  int error;  // of an unreadable file: errno, EISDIR or not_a_regular_file
  std::uint64_t read;
  std::uint32_t bad_times;
};
InputReading read_legacy_input(const char* path, const LegacyInput& input);

}  // namespace sav3
