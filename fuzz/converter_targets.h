// The converters under fuzzing: for each, the legacy files it reads (filled in
// this order from one fuzz input) and the files it must write. One table per
// converter family; the seed maker and the whole-run harness walk all of them.
#pragma once

#include <cstring>
#include <span>

#include "fuzz_device.h"
#include "sav3/output_files.h"

namespace sav3::fuzz {

struct Target {
  const char* name;
  const Input* inputs;  // ends with {nullptr}; "%d" in a path stands for the module sequence number
  // Driver-called conversions take no arguments; module converters take
  // (port, sequence), both drawn from the fuzz input.
  int (*run)();
  int (*run_module)(unsigned port, unsigned sequence);
  Output outputs[2];  // the files it writes (the port's for a module converter)
  std::size_t output_count;
  std::uint8_t module;  // the module kind of a module converter (module_code), else 0

  std::span<const Output> written() const { return {outputs, output_count}; }
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

inline constexpr Target inventory_targets[] = {
    {"device inventory", inventory_inputs, build_device_inventory, nullptr, {Output::inventory}, 1, 0},
};

inline constexpr Target portcfg_targets[] = {
    {"controller configuration",
     controller_config_inputs,
     convert_controller_config,
     nullptr,
     {Output::controller_config},
     1,
     0},
    {"LQ configuration",
     lq_config_inputs,
     nullptr,
     convert_lq_config,
     {Output::supply_config, Output::supply_config_sub},
     2,
     module_code::lq},
    {"ZRT configuration",
     zrt_config_inputs,
     nullptr,
     convert_zrt_config,
     {Output::supply_config, Output::supply_config_sub},
     2,
     module_code::zrt},
    {"K3 configuration",
     k3_config_inputs,
     nullptr,
     convert_k3_config,
     {Output::k3_config},
     1,
     module_code::k3},
};

inline constexpr Target portdata_targets[] = {
    {"controller live data",
     controller_live_inputs,
     convert_controller_live_data,
     nullptr,
     {Output::controller_live},
     1,
     0},
    {"LQ live data",
     lq_live_inputs,
     nullptr,
     convert_lq_live_data,
     {Output::lq_live, Output::supply_live_sub},
     2,
     module_code::lq},
    {"ZRT live data",
     zrt_live_inputs,
     nullptr,
     convert_zrt_live_data,
     {Output::zrt_live, Output::supply_live_sub},
     2,
     module_code::zrt},
    {"K3 live data", k3_live_inputs, nullptr, convert_k3_live_data, {Output::k3_live}, 1, module_code::k3},
    {"alarm state", alarm_state_inputs, convert_alarm_state, nullptr, {Output::alarm_state}, 1, 0},
};

inline constexpr Target history_targets[] = {
    {"controller history",
     controller_history_inputs,
     convert_controller_history,
     nullptr,
     {Output::controller_history},
     1,
     0},
    {"LQ history",
     lq_history_inputs,
     nullptr,
     convert_lq_history,
     {Output::lq_history, Output::supply_history_sub},
     2,
     module_code::lq},
    {"ZRT history",
     zrt_history_inputs,
     nullptr,
     convert_zrt_history,
     {Output::zrt_history, Output::supply_history_sub},
     2,
     module_code::zrt},
    {"K3 history", k3_history_inputs, nullptr, convert_k3_history, {Output::k3_history}, 1, module_code::k3},
    {"alarm history", alarm_history_inputs, convert_alarm_history, nullptr, {Output::alarm_history}, 1, 0},
};

inline constexpr Target settings_targets[] = {
    {"e-mail settings", email_inputs, convert_email_settings, nullptr, {Output::email}, 1, 0},
    {"SNMP settings", snmp_inputs, convert_snmp_settings, nullptr, {Output::snmp}, 1, 0},
    {"SSL settings", ssl_inputs, convert_ssl_settings, nullptr, {Output::ssl}, 1, 0},
    {"TCP/IP settings", tcpip_inputs, convert_tcpip_settings, nullptr, {Output::tcpip}, 1, 0},
    {"user accounts", user_accounts_inputs, convert_user_accounts, nullptr, {Output::user_info}, 1, 0},
    {"web settings", web_inputs, convert_web_settings, nullptr, {Output::web}, 1, 0},
    {"IEEE 802.1X settings",
     ieee8021x_inputs,
     convert_ieee8021x_settings,
     nullptr,
     {Output::ieee8021x},
     1,
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
