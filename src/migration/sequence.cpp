// The migration sequence: the 26 opening commands, the 16 conversions and
// the 4 closing commands, in the order the upgrade has always run them. What
// decides whether they run, and everything around the closing commands, is
// the replacement's (sav3/replacement.h).
#include <syslog.h>

#include <initializer_list>
#include <iterator>
#include <string_view>

#include "copy_check.h"
#include "sav3/alarm.h"
#include "sav3/container.h"
#include "sav3/controller.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/k3.h"
#include "sav3/legacy_file.h"
#include "sav3/lq_zrt.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"
#include "sav3/replacement.h"
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
// In run order; the device inventory comes first because the dispatches and
// the alarm records read it back. The names appear in the log line of a
// failed gate.
constexpr NamedConversion run_order[] = {
    {build_device_inventory, "device inventory"},             // /usr/sav3/data/device
    {convert_controller_live_data, "controller live data"},   // /usr/sav3/data/port0
    {dispatch_live_data_ports, "live-data port dispatch"},    // module live data
    {convert_controller_config, "controller configuration"},  // /usr/sav3/cfg/port0
    {dispatch_config_ports, "configuration port dispatch"},   // module configuration
    {convert_controller_history, "controller history"},       // /usr/sav3/history/port0
    {dispatch_history_ports, "history port dispatch"},        // module history
    {convert_alarm_state, "alarm state record"},              // /usr/sav3/data/alarm
    {convert_alarm_history, "alarm history"},                 // /usr/sav3/history/alarm
    {convert_email_settings, "e-mail settings"},              // /usr/sav3/cfg/email
    {convert_snmp_settings, "SNMP settings"},                 // /usr/sav3/cfg/snmp
    {convert_ssl_settings, "SSL certificate settings"},       // /usr/sav3/cfg/ssl
    {convert_tcpip_settings, "TCP/IP settings"},              // /usr/sav3/cfg/tcp_ip
    {convert_user_accounts, "user accounts"},                 // /usr/sav3/cfg/user_info
    {convert_web_settings, "web access settings"},            // /usr/sav3/cfg/web
    {convert_ieee8021x_settings, "IEEE 802.1X settings"},     // /usr/sav3/cfg/ieee802_1x
};

// The texts above are the upgrade's own and stay as they are; what they name
// (the old programs, the staging folders, the copy sources) is the device's
// table, which the checks before and after the commands read. Each place of
// the command list must spell its table entry, or the build fails.
constexpr bool spells(std::string_view text, std::initializer_list<std::string_view> parts) {
  for (const std::string_view part : parts) {
    if (!text.starts_with(part)) return false;
    text.remove_prefix(part.size());
  }
  return text.empty();
}

constexpr char kill_tail[] = " | grep -v grep | awk '{print $1}' | xargs kill -9";

constexpr bool commands_spell_the_device_table() {
  for (std::size_t i = 0; i < std::size(old_programs); ++i) {
    // "rm", one blank or more, the program.
    const std::string_view remove = opening_commands[command::remove_old_programs + i];
    const std::string_view program = old_programs[i];
    if (!remove.starts_with("rm ") || !remove.ends_with(program) ||
        remove.substr(2, remove.size() - 2 - program.size()).find_first_not_of(' ') != std::string_view::npos)
      return false;
    if (!spells(opening_commands[command::kill_old_programs + i], {"ps | grep ", program, kill_tail}))
      return false;
  }
  if (!spells(opening_commands[command::kill_dhcp_client], {"ps | grep dhclient", kill_tail}) ||
      !spells(opening_commands[command::empty_staging], {"rm -rf ", path::staging, "/*"}))
    return false;
  for (std::size_t i = 0; i < std::size(staging_folders); ++i)
    if (!spells(opening_commands[command::make_staging_folders + i], {"mkdir ", staging_folders[i]}))
      return false;
  for (std::size_t i = 0; i < std::size(copy_sources); ++i) {
    const CopySource& c = copy_sources[i];
    if (!spells(opening_commands[command::copies + i],
                {"cp ", c.from, c.folder_entries ? "/* " : " ", c.into, "/"}))
      return false;
  }
  constexpr std::size_t closing = command::opening_count;
  return spells(closing_commands[command::wipe_live - closing], {"rm -rf ", path::live, "/*"}) &&
         spells(closing_commands[command::empty_live2 - closing],
                {"find ", path::live2, "/ | grep -v update | awk 'NR!=1' | xargs rm -rf"}) &&
         spells(closing_commands[command::copy_live - closing],
                {"cp -rf ", path::staging, "/* ", path::live, "/"}) &&
         spells(closing_commands[command::copy_live2 - closing],
                {"cp -rf ", path::staging, "/* ", path::live2, "/"});
}

static_assert(command::kill_old_programs == command::remove_old_programs + std::size(old_programs) &&
              command::kill_dhcp_client == command::kill_old_programs + std::size(old_programs) &&
              command::empty_staging == command::kill_dhcp_client + 1 &&
              command::make_staging_folders == command::empty_staging + 1 &&
              command::copies == command::make_staging_folders + std::size(staging_folders) &&
              command::opening_count == command::copies + std::size(copy_sources) &&
              std::size(opening_commands) == command::opening_count &&
              command::opening_count + std::size(closing_commands) == command::count &&
              command::copy_live2 + 1 == command::count);
static_assert(commands_spell_the_device_table());

// A full run's part: the opening commands, the conversions, the gate. An
// incomplete staging tree must never replace the live trees: they keep every
// byte and the device boots with its old data.
bool build_staging_tree(CommandRunner run_command, char* kept_reason, std::size_t capacity) {
  // The commands' statuses are not judged here: the gate below (the staging
  // folders, the copies, the conversions) judges what they did.
  for (const char* command : opening_commands) run_command(command);
  char failed[512] = {};
  // Before the first conversion writes over a copy.
  if (!copies_match_sources(failed, sizeof failed)) {
    note(LOG_ERR, log_line::copy_incomplete, escaped(failed).text);
    remember_failure(failure_what::copy, escaped(failed).text, "");
    std::snprintf(kept_reason, capacity, kept_reason::copy_incomplete, escaped(failed).text);
    return false;
  }
  forget_read_failures();
  for (const char* folder : staging_folders) {
    if (failed[0] == '\0' && !device_file_exists(folder))
      std::snprintf(failed, sizeof failed, "folder %s", folder);
  }
  // The first failure names the reason: a conversion that failed, or a file
  // that could not be read and was converted as zeros (its original must
  // stay). The conversions all run, as they always did.
  bool unread = false;
  for (const NamedConversion& step : run_order) {
    const bool converted = step.convert() == 0;
    if (failed[0] != '\0') continue;
    if (!converted) {
      std::snprintf(failed, sizeof failed, "%s", step.name);
    } else if (first_read_failure().error != 0) {
      unread = true;
      std::snprintf(failed, sizeof failed, "%s", step.name);
    }
  }
  if (unread) {
    const auto shown = escaped(first_read_failure().path);
    const auto error = escaped(read_error_text(first_read_failure().error));
    note(LOG_ERR, log_line::cannot_read, shown.text, error.text);
    remember_failure(failure_what::unreadable, shown.text, error.text);
    std::snprintf(kept_reason, capacity, kept_reason::unreadable, shown.text);
    return false;
  }
  if (failed[0] == '\0') return true;
  note(LOG_ERR, log_line::staging_incomplete, failed);
  remember_failure(failure_what::staging, failed, "");
  std::snprintf(kept_reason, capacity, kept_reason::staging_incomplete, failed);
  return false;
}

}  // namespace

std::span<const char* const> retire_and_rebuild_commands() { return opening_commands; }
std::span<const char* const> replacement_commands() { return closing_commands; }
std::span<const NamedConversion> conversions() { return run_order; }

int run_migration(CommandRunner run_command, Logger log) {
  set_logger(log);
  run_replacement(run_command, Sequence{build_staging_tree, closing_commands});
  set_logger(nullptr);
  return 0;
}

}  // namespace sav3
