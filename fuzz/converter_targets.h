// The converters under fuzzing: for each, the legacy files it reads (filled in
// this order from one fuzz input) and the files it must write. One table per
// converter family; the seed maker and the whole-run harness walk all of them.
#pragma once

#include <cstring>
#include <span>

#include "fuzz_device.h"
#include "sav3/alarm.h"
#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "sav3/inventory.h"
#include "sav3/k3.h"
#include "sav3/lq_zrt.h"
#include "sav3/settings_email.h"
#include "sav3/settings_ieee8021x.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_ssl.h"
#include "sav3/settings_tcpip.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/settings_web.h"

namespace sav3::fuzz {

struct Target {
  const char* name;
  const Input* inputs;  // ends with {nullptr}; "%d" in a path stands for the module sequence number
  // Driver-called conversions take no arguments; module converters take
  // (port, sequence), both drawn from the fuzz input.
  int (*run)();
  int (*run_module)(unsigned port, unsigned sequence);
  Output outputs[2];    // "%d" in a path stands for the port; size 0 ends the list
  std::uint8_t module;  // the module kind of a module converter (module_code), else 0
};

// ---------------------------------------------------------------------------
// Legacy inputs, in the order each converter reads them.

inline constexpr Input inventory_inputs[] = {
    {path::device_display},          {"/mnt/1/cfg/LQDataItemTmp_1.txt"}, {"/mnt/1/cfg/LQDataItemTmp_2.txt"},
    {"/mnt/1/cfg/ZrtDataItemTmp_1"}, {"/mnt/1/cfg/ZrtDataItemTmp_2"},    {nullptr}};

inline constexpr Input controller_config_inputs[] = {
    {legacy_pwmcfg::path}, {legacy_mcuassign::path}, {legacy_reportcfg::path}, {nullptr}};
inline constexpr Input lq_config_inputs[] = {{legacy_progcfg::lq_path}, {legacy_battery_warning::lq_path},
                                             {legacy_emailcfg::path},   {legacy_reportcfg::path},
                                             {legacy_crw::path},        {nullptr}};
inline constexpr Input zrt_config_inputs[] = {{legacy_progcfg::zrt_path}, {legacy_battery_warning::zrt_path},
                                              {legacy_emailcfg::path},    {legacy_reportcfg::path},
                                              {legacy_crw::path},         {nullptr}};
inline constexpr Input k3_config_inputs[] = {{legacy_k3_extension::path},
                                             {legacy_k3_settings::path_format},
                                             {legacy_k3_config::path_format},
                                             {nullptr}};

inline constexpr Input controller_live_inputs[] = {
    {controller_record::item_path}, {legacy_pwmcfg::path}, {nullptr}};
inline constexpr Input k3_live_inputs[] = {
    {legacy_k3_extension::path},       {controller_record::item_path},  {legacy_k3_item::item_path_format},
    {legacy_k3_settings::path_format}, {legacy_k3_config::path_format}, {nullptr}};
inline constexpr Input lq_live_inputs[] = {
    {legacy_progcfg::lq_path},   {legacy_battery_warning::lq_path},     {controller_record::item_path},
    {legacy_crw::path},          {legacy_device_alarm::path},           {legacy_mcucfg::path},
    {legacy_lq_item::item_path}, {legacy_supply_battery::lq_item_path}, {nullptr}};
inline constexpr Input zrt_live_inputs[] = {{legacy_progcfg::zrt_path},
                                            {legacy_battery_warning::zrt_path},
                                            {controller_record::item_path},
                                            {legacy_crw::path},
                                            {legacy_device_alarm::path},
                                            {legacy_mcucfg::path},
                                            {legacy_zrt_item::item_path},
                                            {legacy_supply_battery::zrt_item_path},
                                            {nullptr}};
// The alarm records take the inventory as it was written (a headed file) and
// the configuration of every K3 module that has legacy files.
inline constexpr Input alarm_state_inputs[] = {{controller_record::item_path}, {path::inventory},
                                               {"/mnt/1/cfg/K3cfg_1"},         {"/mnt/1/cfg/K3cfg_2"},
                                               {"/mnt/1/cfg/K3cfg_3"},         {nullptr}};

inline constexpr Input controller_history_inputs[] = {
    {controller_record::report_path}, {legacy_pwmcfg::path}, {legacy_reportcfg::path}, {nullptr}};
inline constexpr Input lq_history_inputs[] = {{legacy_lq_item::report_path},
                                              {legacy_supply_extra::lq_report_path},
                                              {legacy_supply_battery::lq_report_path},
                                              {controller_record::report_path},
                                              {legacy_progcfg::lq_path},
                                              {nullptr}};
inline constexpr Input zrt_history_inputs[] = {{legacy_zrt_item::report_path},
                                               {legacy_supply_extra::zrt_report_path},
                                               {legacy_supply_battery::zrt_report_path},
                                               {controller_record::report_path},
                                               {legacy_progcfg::zrt_path},
                                               {nullptr}};
inline constexpr Input k3_history_inputs[] = {
    {legacy_k3_item::report_path_format}, {legacy_k3_extension::path},      {legacy_k3_config::path_format},
    {legacy_k3_settings::path_format},    {controller_record::report_path}, {nullptr}};
inline constexpr Input alarm_history_inputs[] = {{path::inventory},
                                                 {controller_record::report_path},
                                                 {"/mnt/1/cfg/K3cfg_1"},
                                                 {"/mnt/1/cfg/K3cfg_2"},
                                                 {"/mnt/1/cfg/K3cfg_3"},
                                                 {legacy_sysver::path},
                                                 {nullptr}};

inline constexpr Input email_inputs[] = {{legacy_emailcfg::path}, {nullptr}};
inline constexpr Input snmp_inputs[] = {{legacy_snmp::trap_version_path},
                                        {legacy_snmp::agent_config_path},
                                        {legacy_snmp::block_path},
                                        {legacy_ipcfg::path},
                                        {nullptr}};
inline constexpr Input ssl_inputs[] = {{legacy_ssl::path}, {nullptr}};
inline constexpr Input tcpip_inputs[] = {
    {legacy_ipcfg::path}, {legacy_ntp::path},  {legacy_msm::path}, {legacy_msm::fallback_path},
    {legacy_vpn::path},   {legacy_ipv6::path}, {nullptr}};
inline constexpr Input user_accounts_inputs[] = {
    {legacy_auth::password_level_path}, {legacy_auth::path}, {nullptr}};
inline constexpr Input web_inputs[] = {{legacy_mcuassign::path},     {legacy_battery_warning::lq_path},
                                       {legacy_lock::path},          {legacy_pwmcfg::path},
                                       {legacy_emailcfg::path},      {legacy_reportcfg::path},
                                       {legacy_remember_user::path}, {nullptr}};
inline constexpr Input ieee8021x_inputs[] = {{legacy_ieee8021x::path}, {nullptr}};

// ---------------------------------------------------------------------------
// The families.

inline constexpr int one = 1;
inline constexpr int history = history_records;

inline constexpr Target inventory_targets[] = {
    {"device inventory",
     inventory_inputs,
     build_device_inventory,
     nullptr,
     {{path::inventory, inventory::record_size, one}},
     0},
};

inline constexpr Target portcfg_targets[] = {
    {"controller configuration",
     controller_config_inputs,
     convert_controller_config,
     nullptr,
     {{controller_config::path, controller_config::size, one}},
     0},
    {"LQ configuration",
     lq_config_inputs,
     nullptr,
     convert_lq_config,
     {{path::cfg_port, supply_config::record_size, one},
      {path::cfg_subport, supply_config_sub::record_size, one}},
     module_code::lq},
    {"ZRT configuration",
     zrt_config_inputs,
     nullptr,
     convert_zrt_config,
     {{path::cfg_port, supply_config::record_size, one},
      {path::cfg_subport, supply_config_sub::record_size, one}},
     module_code::zrt},
    {"K3 configuration",
     k3_config_inputs,
     nullptr,
     convert_k3_config,
     {{path::cfg_port, k3_config::record_size, one}},
     module_code::k3},
};

inline constexpr Target portdata_targets[] = {
    {"controller live data",
     controller_live_inputs,
     convert_controller_live_data,
     nullptr,
     {{controller_live::path, controller_live::size, one}},
     0},
    {"LQ live data",
     lq_live_inputs,
     nullptr,
     convert_lq_live_data,
     {{path::data_port, supply_live::record_size, one},
      {path::data_subport, supply_live_sub::record_size, one}},
     module_code::lq},
    {"ZRT live data",
     zrt_live_inputs,
     nullptr,
     convert_zrt_live_data,
     {{path::data_port, supply_live::record_size, one},
      {path::data_subport, supply_live_sub::record_size, one}},
     module_code::zrt},
    {"K3 live data",
     k3_live_inputs,
     nullptr,
     convert_k3_live_data,
     {{path::data_port, k3_live::record_size, one}},
     module_code::k3},
    {"alarm state",
     alarm_state_inputs,
     convert_alarm_state,
     nullptr,
     {{alarm_state::path, alarm_state::size, one}},
     0},
};

inline constexpr Target history_targets[] = {
    {"controller history",
     controller_history_inputs,
     convert_controller_history,
     nullptr,
     {{controller_history::path, controller_history::size, history}},
     0},
    {"LQ history",
     lq_history_inputs,
     nullptr,
     convert_lq_history,
     {{path::history_port, supply_history::record_size, history},
      {path::history_subport, supply_history_sub::record_size, history}},
     module_code::lq},
    {"ZRT history",
     zrt_history_inputs,
     nullptr,
     convert_zrt_history,
     {{path::history_port, supply_history::record_size, history},
      {path::history_subport, supply_history_sub::record_size, history}},
     module_code::zrt},
    {"K3 history",
     k3_history_inputs,
     nullptr,
     convert_k3_history,
     {{path::history_port, k3_history::record_size, history}},
     module_code::k3},
    {"alarm history",
     alarm_history_inputs,
     convert_alarm_history,
     nullptr,
     {{alarm_history::path, alarm_history::size, history}},
     0},
};

inline constexpr Target settings_targets[] = {
    {"e-mail settings",
     email_inputs,
     convert_email_settings,
     nullptr,
     {{email::path, email::record_size, one}},
     0},
    {"SNMP settings", snmp_inputs, convert_snmp_settings, nullptr, {{snmp::path, snmp::record_size, one}}, 0},
    {"SSL settings", ssl_inputs, convert_ssl_settings, nullptr, {{ssl::path, ssl::record_size, one}}, 0},
    {"TCP/IP settings",
     tcpip_inputs,
     convert_tcpip_settings,
     nullptr,
     {{tcpip::path, tcpip::record_size, one}},
     0},
    {"user accounts",
     user_accounts_inputs,
     convert_user_accounts,
     nullptr,
     {{user_info::path, user_info::record_size, one}},
     0},
    {"web settings", web_inputs, convert_web_settings, nullptr, {{web::path, web::record_size, one}}, 0},
    {"IEEE 802.1X settings",
     ieee8021x_inputs,
     convert_ieee8021x_settings,
     nullptr,
     {{ieee8021x::path, ieee8021x::record_size, one}},
     0},
};

struct Family {
  const char* name;  // the harness is <name>_fuzz
  std::span<const Target> targets;
};

// Every family, in the order the driver runs its conversions.
inline constexpr Family families[] = {
    {"inventory", inventory_targets}, {"portdata", portdata_targets}, {"portcfg", portcfg_targets},
    {"history", history_targets},     {"settings", settings_targets},
};

// The inputs of the whole run: every legacy input of every target, each once,
// in table order, "%d" filled in for every module sequence number that has
// legacy files; the files the run writes itself (the inventory) are not
// inputs there.
struct InputList {
  PathName paths[128];
  std::size_t count = 0;

  void add(const char* p) {
    if (std::strcmp(p, path::inventory) == 0) return;
    for (std::size_t i = 0; i < count; ++i)
      if (std::strcmp(paths[i], p) == 0) return;
    if (count == std::size(paths)) std::abort();
    std::snprintf(paths[count++].text, sizeof paths[0].text, "%s", p);
  }
};

inline const InputList& all_inputs() {
  static InputList list;
  if (list.count != 0) return list;
  for (const Family& family : families)
    for (const Target& t : family.targets)
      for (const Input* in = t.inputs; in->path != nullptr; ++in) {
        if (std::strstr(in->path, "%d") == nullptr) {
          list.add(in->path);
          continue;
        }
        for (unsigned n = 1; n <= legacy_k3_modules; ++n) list.add(numbered_path(in->path, n));
      }
  return list;
}

}  // namespace sav3::fuzz
