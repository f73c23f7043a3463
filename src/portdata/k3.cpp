// The K3 live record "/usr/sav3/data/port%d": the module's latest readings and
// output states, its settings, and the time of the controller's readings.
#include "sav3/k3.h"

#include <string_view>

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"
#include "sav3/output_files.h"

namespace sav3 {

namespace {

// The 10-byte status word of output i in a group of eight. Comparing inside
// the word is the same as comparing the C text: every word the tests look for
// is shorter than 10 bytes, so its terminator lies inside the word too.
ConstBytes status_word(ConstBytes item, std::size_t group, unsigned i) {
  return slice(item, group + legacy_k3_item::word_stride * i, legacy_k3_item::word_stride);
}

std::uint8_t state_code(ConstBytes word) {
  if (text_is(word, 0, "Inactive")) return k3_readings::inactive;
  if (text_is(word, 0, "Active")) return k3_readings::active;
  return k3_readings::other_state;
}

std::uint8_t condition_code(ConstBytes word) {
  if (text_is(word, 0, "Fault")) return k3_readings::fault;
  if (text_is(word, 0, "Normal")) return k3_readings::normal;
  return k3_readings::other_condition;
}

std::uint8_t answer_code(ConstBytes word) {
  return answer_is(word, 0, "No") ? k3_readings::answer_no : k3_readings::answer_other;
}

}  // namespace

void fill_k3_readings(Bytes record, ConstBytes item) {
  using namespace legacy_k3_item;
  put(record, k3_readings::module_type, module_code::k3);
  put_scaled(record, k3_readings::tenths_quantity, read_f32le(item, tenths_quantity));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put(record, k3_readings::state_2[i], state_code(status_word(item, state_word_2, i)));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put(record, k3_readings::state_1[i], state_code(status_word(item, state_word_1, i)));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put(record, k3_readings::condition[i], condition_code(status_word(item, condition_word, i)));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put(record, k3_readings::answer[i], answer_code(status_word(item, answer_word, i)));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_scaled(record, k3_readings::reading_a[i], read_f32le(item, reading_a + 4 * i));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_scaled(record, k3_readings::reading_b[i], read_f32le(item, reading_b + 4 * i));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_scaled(record, k3_readings::reading_c[i], read_f32le(item, reading_c + 4 * i));
}

void put_k3_settings(Bytes record, std::span<const Field, k3_settings::count> fields, ConstBytes config) {
  for (unsigned g = 0; g < k3_settings::groups; ++g)
    for (unsigned i = 0; i < k3_outputs; ++i)
      put_scaled(record, k3_settings::setting(fields, g, i),
                 read_f32le(config, legacy_k3_config::setting_groups[g] + 4 * i));
}

int convert_k3_live_data(unsigned port, unsigned sequence) {
  std::uint8_t record[k3_live::record_size] = {};
  std::uint8_t extension[legacy_k3_extension::record_size] = {};
  std::uint8_t controller[controller_record::size] = {};
  std::uint8_t item[legacy_k3_item::record_size] = {};
  std::uint8_t settings[legacy_k3_settings::record_size] = {};
  std::uint8_t config[legacy_k3_config::record_size] = {};

  read_plain_record_if_present(legacy_k3_extension::path, extension, legacy_k3_extension::record_size, 1);
  read_plain_record_if_present(controller_record::item_path, controller, controller_record::size, 1);
  if (has_legacy_k3_files(sequence)) {
    read_plain_record_if_present(numbered_path(legacy_k3_item::item_path_format, sequence), item,
                                 legacy_k3_item::record_size, 1);
    read_plain_record_if_present(numbered_path(legacy_k3_settings::path_format, sequence), settings,
                                 legacy_k3_settings::record_size, 1);
    read_plain_record_if_present(numbered_path(legacy_k3_config::path_format, sequence), config,
                                 legacy_k3_config::record_size, 1);
  }

  Bytes out(record);
  fill_k3_readings(out, item);
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_bytes(out, k3_live::settings_block[i], settings,
              legacy_k3_settings::block + legacy_k3_settings::block_stride * i);
  for (unsigned j = 0; j < legacy_k3_config::small_setting_count; ++j)
    put_low_bits(out, k3_live::small_setting[j], read32le(config, legacy_k3_config::small_settings + 4 * j));
  put_k3_settings(out, k3_live::settings, config);
  const std::uint32_t mask = read32le(settings, legacy_k3_settings::enable_mask);
  for (unsigned i = 0; i < k3_outputs; ++i) put(out, k3_live::enabled[i], (mask >> i) & 1u);
  // The live record takes the module's block of the second table, which has a
  // block for a fourth module too.
  if (legacy_k3_extension::has_table_2_block(sequence)) {
    const std::size_t block = legacy_k3_extension::table_2_block(sequence);
    for (unsigned i = 0; i < k3_outputs; ++i)
      put(out, k3_live::extension_2[i], read32le(extension, block + 4 * i));
  }
  put(out, k3_live::reading_time,
      static_cast<std::uint32_t>(legacy_time_seconds(text_at(controller, controller_record::time_text))));

  return code(write_output(Output::k3_live, port, out));
}

}  // namespace sav3
