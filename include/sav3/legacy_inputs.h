// Every file of the old firmware that the conversions read, by the names the
// record layouts give them; a path with "%d" stands for module ports 1 to 4.
// The checks before a run read each one that exists to its end.
#pragma once

#include "sav3/alarm.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/k3.h"
#include "sav3/legacy_config.h"
#include "sav3/lq_zrt.h"
#include "sav3/settings_ieee8021x.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_ssl.h"
#include "sav3/settings_tcpip.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/settings_web.h"

namespace sav3 {

inline constexpr const char* legacy_inputs[] = {
    path::device_display,
    controller_record::item_path,
    controller_record::report_path,
    legacy_pwmcfg::path,
    legacy_mcuassign::path,
    legacy_reportcfg::path,
    legacy_mcucfg::path,
    legacy_device_alarm::path,
    legacy_crw::path,
    legacy_progcfg::lq_path,
    legacy_progcfg::zrt_path,
    legacy_battery_warning::lq_path,
    legacy_battery_warning::zrt_path,
    legacy_lq_item::item_path,
    legacy_lq_item::report_path,
    legacy_zrt_item::item_path,
    legacy_zrt_item::report_path,
    legacy_supply_battery::lq_item_path,
    legacy_supply_battery::zrt_item_path,
    legacy_supply_battery::lq_report_path,
    legacy_supply_battery::zrt_report_path,
    legacy_supply_extra::lq_report_path,
    legacy_supply_extra::zrt_report_path,
    legacy_k3_settings::path_format,
    legacy_k3_config::path_format,
    legacy_k3_item::item_path_format,
    legacy_k3_item::report_path_format,
    legacy_k3_extension::path,
    legacy_sysver::path,
    legacy_emailcfg::path,
    legacy_snmp::agent_config_path,
    legacy_snmp::trap_version_path,
    legacy_snmp::block_path,
    legacy_ssl::path,
    legacy_ipcfg::path,
    legacy_ntp::path,
    legacy_msm::path,
    legacy_msm::fallback_path,
    legacy_vpn::path,
    legacy_ipv6::path,
    legacy_auth::path,
    legacy_auth::password_level_path,
    legacy_lock::path,
    legacy_remember_user::path,
};

}  // namespace sav3
