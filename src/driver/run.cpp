#include "sav3/alarm.h"
#include "sav3/container.h"
#include "sav3/controller.h"
#include "sav3/device.h"
#include "sav3/driver.h"
#include "sav3/inventory.h"
#include "sav3/settings_email.h"
#include "sav3/settings_ieee8021x.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_ssl.h"
#include "sav3/settings_tcpip.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/settings_web.h"

namespace sav3 {

namespace {

// Stored exactly as the upgrade procedure has always issued them (the third
// delete has two blanks after "rm").
constexpr const char* opening_commands[] = {
    "rm /mnt/2/snmp/sbin/snmpd",
    "rm /mnt/2/snmp/sbin/vq4-demon",
    "rm  /mnt/2/snmp/sbin/snmp-system",
    "rm /mnt/2/tools/tcpclientremote",
    "rm /mnt/2/tools/spi",
    "rm /mnt/2/tools/lanudpclient",
    "rm /mnt/2/tools/lantcpclient",
    "rm /mnt/2/tools/tcpclient_psia",
    "ps | grep /mnt/2/snmp/sbin/snmpd | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/snmp/sbin/vq4-demon | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/snmp/sbin/snmp-system | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/tcpclientremote | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/spi | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/lanudpclient | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/lantcpclient | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/tcpclient_psia | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep dhclient | grep -v grep | awk '{print $1}' | xargs kill -9",
    "rm -rf /usr/sav3/*",
    "mkdir /usr/sav3/data",
    "mkdir /usr/sav3/cfg",
    "mkdir /usr/sav3/etc",
    "mkdir /usr/sav3/history",
    "cp /mnt/1/cfg/* /usr/sav3/cfg/",
    "cp /mnt/1/etc/* /usr/sav3/etc/",
    "cp /usr/sav/update_log /usr/sav3/",
    "cp /usr/sav/data/userlogindata.txt /usr/sav3/data/",
};

constexpr const char* closing_commands[] = {
    "rm -rf /usr/sav/*",
    "find /usr/sav2/ | grep -v update | awk 'NR!=1' | xargs rm -rf",
    "cp -rf /usr/sav3/* /usr/sav/",
    "cp -rf /usr/sav3/* /usr/sav2/",
};
constexpr std::size_t empty_sav2_command = 1;

// In run order; the device inventory comes first because the dispatches and
// the alarm records read it back.
constexpr Conversion run_order[] = {
    build_device_inventory,        //  1 /usr/sav3/data/device
    convert_controller_live_data,  //  2 /usr/sav3/data/port0
    dispatch_live_data_ports,      //  3 module live data
    convert_controller_config,     //  4 /usr/sav3/cfg/port0
    dispatch_config_ports,         //  5 module configuration
    convert_controller_history,    //  6 /usr/sav3/history/port0
    dispatch_history_ports,        //  7 module history
    convert_alarm_state,           //  8 /usr/sav3/data/alarm
    convert_alarm_history,         //  9 /usr/sav3/history/alarm
    convert_email_settings,        // 10 /usr/sav3/cfg/email
    convert_snmp_settings,         // 11 /usr/sav3/cfg/snmp
    convert_ssl_settings,          // 12 /usr/sav3/cfg/ssl
    convert_tcpip_settings,        // 13 /usr/sav3/cfg/tcp_ip
    convert_user_accounts,         // 14 /usr/sav3/cfg/user_info
    convert_web_settings,          // 15 /usr/sav3/cfg/web
    convert_ieee8021x_settings,    // 16 /usr/sav3/cfg/ieee802_1x
};

bool staging_tree_built() {
  return device_file_exists(path::staging_data) && device_file_exists(path::staging_cfg) &&
         device_file_exists(path::staging_etc) && device_file_exists(path::staging_history);
}

}  // namespace

std::span<const char* const> retire_and_rebuild_commands() { return opening_commands; }
std::span<const char* const> replacement_commands() { return closing_commands; }
std::span<const Conversion> conversions() { return run_order; }

int run_migration(CommandRunner run_command) {
  if (device_file_exists(path::marker)) return 0;

  for (const char* command : opening_commands) run_command(command);
  bool complete = staging_tree_built();

  for (Conversion convert : run_order) {
    if (convert() != 0) complete = false;
  }

  // An incomplete staging tree must never replace the live trees: they keep
  // every byte and the device boots with its old data.
  if (!complete) return 0;
  for (std::size_t i = 0; i < std::size(closing_commands); ++i) {
    // The listing of /usr/sav2 is split at blanks by xargs; run it from inside
    // /usr/sav2 so that a piece of a split name can only resolve there.
    if (i == empty_sav2_command && !change_device_directory(path::live2)) continue;
    run_command(closing_commands[i]);
  }
  return 0;
}

}  // namespace sav3
