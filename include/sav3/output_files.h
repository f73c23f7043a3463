// The files the migration writes: one table of their device paths, record
// layouts, record counts and the module kinds that get them. The converters
// write through it; the inspector, its tree check, the fuzz harnesses and the
// device tests (through `sav3-inspect --outputs`) read it. A new or
// changed output file is one row here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sav3/alarm.h"
#include "sav3/container.h"
#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/k3.h"
#include "sav3/layout.h"
#include "sav3/lq_zrt.h"
#include "sav3/settings_email.h"
#include "sav3/settings_ieee8021x.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_ssl.h"
#include "sav3/settings_tcpip.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/settings_web.h"

namespace sav3 {

// The output files, in the order of the staging tree: data, cfg, history.
enum class Output : std::uint8_t {
  inventory,
  controller_live,
  lq_live,
  zrt_live,
  supply_live_sub,
  k3_live,
  alarm_state,
  controller_config,
  supply_config,
  supply_config_sub,
  k3_config,
  email,
  snmp,
  ssl,
  tcpip,
  user_info,
  web,
  ieee8021x,
  controller_history,
  lq_history,
  zrt_history,
  supply_history_sub,
  k3_history,
  alarm_history,
};

constexpr std::uint8_t module_bit(std::uint8_t code) { return static_cast<std::uint8_t>(1u << code); }

struct OutputFile {
  Output id;
  const char* name;  // what the file holds, as the inspector names it
  // The device path; a per-port file has "%d" for its module port 1..4.
  const char* path;
  const RecordLayout* layout;  // the record's fields
  std::uint32_t size;          // of a record: the layout's
  std::uint32_t count;         // records in the file
  // module_bit()s of the module kinds whose ports get this file; 0 for the
  // files of the controller and of the whole device.
  std::uint8_t modules;
  // Byte 0 of every record holds the module type code (tells the LQ and ZRT
  // files of one size apart).
  bool type_code_first;

  constexpr bool per_port() const { return modules != 0; }
};

namespace output_files_table {
inline constexpr std::uint8_t lq = module_bit(module_code::lq);
inline constexpr std::uint8_t zrt = module_bit(module_code::zrt);
inline constexpr std::uint8_t lq_zrt = lq | zrt;
inline constexpr std::uint8_t k3 = module_bit(module_code::k3);
inline constexpr std::uint32_t history = history_records;
inline constexpr bool code_first = true;  // type_code_first

// A row: the record size comes from the layout.
constexpr OutputFile row(Output id, const char* name, const char* path, const RecordLayout& layout,
                         std::uint32_t count, std::uint8_t modules, bool type_code_first = false) {
  return {id, name, path, &layout, layout.size, count, modules, type_code_first};
}

// Row, what the file holds, device path (%d: the module port), record layout,
// records, module kinds whose ports get it, byte 0 of a record the type code.
inline constexpr OutputFile rows[] = {
    // clang-format off
    row(Output::inventory,          "device inventory",                path::inventory,               inventory::layout,          1,       0),
    row(Output::controller_live,    "controller live record",          controller_live::path,         controller_live::layout,    1,       0,      code_first),
    row(Output::lq_live,            "LQ live record",                  "/usr/sav3/data/port%d",       lq_live::layout,            1,       lq,     code_first),
    row(Output::zrt_live,           "ZRT live record",                 "/usr/sav3/data/port%d",       zrt_live::layout,           1,       zrt,    code_first),
    row(Output::supply_live_sub,    "supply live sub-record",          "/usr/sav3/data/subport%d",    supply_live_sub::layout,    1,       lq_zrt),
    row(Output::k3_live,            "K3 live record",                  "/usr/sav3/data/port%d",       k3_live::layout,            1,       k3,     code_first),
    row(Output::alarm_state,        "alarm state record",              alarm_state::path,             alarm_state::layout,        1,       0),
    row(Output::controller_config,  "controller configuration record", controller_config::path,       controller_config::layout,  1,       0),
    row(Output::supply_config,      "supply configuration record",     "/usr/sav3/cfg/port%d",        supply_config::layout,      1,       lq_zrt),
    row(Output::supply_config_sub,  "supply configuration sub-record", "/usr/sav3/cfg/subport%d",     supply_config_sub::layout,  1,       lq_zrt),
    row(Output::k3_config,          "K3 port configuration",           "/usr/sav3/cfg/port%d",        k3_config::layout,          1,       k3),
    row(Output::email,              "e-mail settings",                 email::path,                   email::layout,              1,       0),
    row(Output::snmp,               "SNMP settings",                   snmp::path,                    snmp::layout,               1,       0),
    row(Output::ssl,                "SSL certificate settings",        ssl::path,                     ssl::layout,                1,       0),
    row(Output::tcpip,              "TCP/IP settings",                 tcpip::path,                   tcpip::layout,              1,       0),
    row(Output::user_info,          "user accounts",                   user_info::path,               user_info::layout,          1,       0),
    row(Output::web,                "web access settings",             web::path,                     web::layout,                1,       0),
    row(Output::ieee8021x,          "IEEE 802.1X settings",            ieee8021x::path,               ieee8021x::layout,          1,       0),
    row(Output::controller_history, "controller history",              controller_history::path,      controller_history::layout, history, 0,      code_first),
    row(Output::lq_history,         "LQ history",                      "/usr/sav3/history/port%d",    lq_history::layout,         history, lq,     code_first),
    row(Output::zrt_history,        "ZRT history",                     "/usr/sav3/history/port%d",    zrt_history::layout,        history, zrt,    code_first),
    row(Output::supply_history_sub, "supply history sub-records",      "/usr/sav3/history/subport%d", supply_history_sub::layout, history, lq_zrt),
    row(Output::k3_history,         "K3 history",                      "/usr/sav3/history/port%d",    k3_history::layout,         history, k3,     code_first),
    row(Output::alarm_history,      "alarm history",                   alarm_history::path,           alarm_history::layout,      history, 0),
    // clang-format on
};
}  // namespace output_files_table

inline constexpr std::span<const OutputFile> output_files = output_files_table::rows;

constexpr const OutputFile& output_file(Output id) { return output_files[static_cast<std::size_t>(id)]; }

// The folder ("data", "cfg", "history") and the file name ("port%d",
// "email") of an output file's path "/usr/sav3/<folder>/<name>".
constexpr std::string_view output_folder(const OutputFile& f) {
  const std::string_view p(f.path);
  const std::size_t last = p.rfind('/');
  const std::size_t before = p.rfind('/', last - 1);
  return p.substr(before + 1, last - before - 1);
}
constexpr std::string_view output_name(const OutputFile& f) {
  const std::string_view p(f.path);
  return p.substr(p.rfind('/') + 1);
}

namespace output_files_table {
constexpr bool is_sound() {
  for (std::size_t i = 0; i < output_files.size(); ++i) {
    const OutputFile& f = output_files[i];
    if (static_cast<std::size_t>(f.id) != i) return false;  // output_file() indexes by id
    const std::string_view p(f.path);
    if (!p.starts_with("/usr/sav3/")) return false;
    if (f.per_port() != output_name(f).ends_with("port%d")) return false;
    // Every byte of a record belongs to one field.
    if (!fields_tile(f.layout->fields, f.size)) return false;
    if (f.count != 1 && f.count != history_records) return false;
    if (f.type_code_first && (f.layout->fields.empty() || f.layout->fields[0].offset != 0)) return false;
    // One file per path for a module kind.
    for (std::size_t j = 0; j < i; ++j)
      if (p == output_files[j].path && (!f.per_port() || (f.modules & output_files[j].modules) != 0))
        return false;
  }
  return true;
}
static_assert(is_sound());
}  // namespace output_files_table

// The device path of an output file: the port filled in for a per-port file.
PathName output_path(const OutputFile& file, unsigned port);

// Writes the records of an output file: the size and count from the table,
// the port for a per-port file (ignored otherwise). `records` must hold
// size x count bytes.
FileResult write_output(Output id, unsigned port, ConstBytes records);

}  // namespace sav3
