// The K3 history "/usr/sav3/history/port%d": record i joins the readings of
// K3 report record i with the time of controller report record i, and carries
// the module's settings as they stand at the migration.
#include "sav3/k3.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"
#include "sav3/output_files.h"
#include "sav3/work_area.h"

namespace sav3 {

namespace {

// About 1 MB in all: the histories' work area. The new records come first
// and start from zeros; the reads fill the reports whole.
struct K3HistoryBuffers {
  std::uint8_t history[k3_history::record_size * history_records];
  std::uint8_t k3_report[legacy_k3_item::record_size * history_records];
  std::uint8_t controller_report[controller_record::size * history_records];
};

// The module's settings as they stand at the migration, bytes 82 to 257 of
// every record: built once, copied into each.
constexpr std::size_t settings_begin = k3_history::extension_2[0].offset;
constexpr std::size_t settings_end = k3_history::reserved_1.offset;
static_assert(settings_begin == k3_readings::fields.back().offset + k3_readings::fields.back().width);
static_assert(settings_end == k3_history::extension_1.back().offset + k3_history::extension_1.back().width);

void fill_k3_history_settings(Bytes out, ConstBytes extension, ConstBytes config, ConstBytes settings,
                              unsigned n) {
  using namespace legacy_k3_config;
  if (legacy_k3_extension::has_table_2_block(n)) {
    const std::size_t block = legacy_k3_extension::table_2_block(n);
    for (unsigned i = 0; i < k3_outputs; ++i)
      put(out, k3_history::extension_2[i], read32le(extension, block + 4 * i));
  }
  for (unsigned j = 0; j < small_setting_count; ++j)
    put_low_bits(out, k3_history::small_setting[j], read32le(config, small_settings + 4 * j));
  put_k3_settings(out, k3_history::settings, config);
  const std::uint32_t mask = read32le(settings, legacy_k3_settings::enable_mask);
  for (unsigned i = 0; i < k3_outputs; ++i) put(out, k3_history::enabled[i], (mask >> i) & 1u);
  // The first table has no block for a fourth module: its values stay zero
  // rather than repeating the first module's block of the second table.
  if (legacy_k3_extension::has_table_1_block(n)) {
    const std::size_t block = legacy_k3_extension::table_1_block(n);
    for (unsigned i = 0; i < k3_outputs; ++i)
      put(out, k3_history::extension_1[i], read32le(extension, block + 4 * i));
  }
}

}  // namespace

int convert_k3_history(unsigned port, unsigned sequence) {
  K3HistoryBuffers& buf = take_work_area<K3HistoryBuffers>(offsetof(K3HistoryBuffers, k3_report));
  std::uint8_t extension[legacy_k3_extension::record_size] = {};
  std::uint8_t config[legacy_k3_config::record_size] = {};
  std::uint8_t settings[legacy_k3_settings::record_size] = {};

  read_plain_record_filled_if_present(numbered_path(legacy_k3_item::report_path_format, sequence),
                                      buf.k3_report, legacy_k3_item::record_size, history_records);
  read_plain_record_if_present(legacy_k3_extension::path, extension, legacy_k3_extension::record_size, 1);
  read_plain_record_if_present(numbered_path(legacy_k3_config::path_format, sequence), config,
                               legacy_k3_config::record_size, 1);
  read_plain_record_if_present(numbered_path(legacy_k3_settings::path_format, sequence), settings,
                               legacy_k3_settings::record_size, 1);
  read_plain_record_filled_if_present(controller_record::report_path, buf.controller_report,
                                      controller_record::size, history_records);

  std::uint8_t settings_record[k3_history::record_size] = {};
  fill_k3_history_settings(settings_record, extension, config, settings, sequence);

  const Bytes history(buf.history);
  for (int i = 0; i < history_records; ++i) {
    Bytes out = slice(history, std::size_t{k3_history::record_size} * i, k3_history::record_size);
    const ConstBytes k3 = slice(ConstBytes(buf.k3_report), std::size_t{legacy_k3_item::record_size} * i,
                                legacy_k3_item::record_size);
    const ConstBytes controller = slice(ConstBytes(buf.controller_report),
                                        std::size_t{controller_record::size} * i, controller_record::size);
    fill_k3_readings(out, k3);
    std::memcpy(out.data() + settings_begin, settings_record + settings_begin, settings_end - settings_begin);
    put(out, k3_history::record_time,
        static_cast<std::uint32_t>(legacy_time_seconds(text_at(controller, controller_record::time_text))));
  }
  return code(write_output(Output::k3_history, port, history));
}

}  // namespace sav3
