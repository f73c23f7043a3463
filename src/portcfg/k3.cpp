// The K3 port configuration record "/usr/sav3/cfg/port%d": for each of the
// eight outputs its settings block, its small and scaled settings, its enable
// flag and its extension word.
#include "sav3/k3.h"

#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/output_files.h"

namespace sav3 {

namespace {

// Configuration group g (1..5) holds one int32 per output; the low byte is kept.
std::uint32_t group_value(ConstBytes config, unsigned g, unsigned i) {
  return read32le(config,
                  legacy_k3_config::small_settings + legacy_k3_config::group_stride * (g - 1) + 4 * i);
}

void fill_k3_config(Bytes out, ConstBytes settings, ConstBytes config, ConstBytes extension, unsigned n) {
  using namespace legacy_k3_config;
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_bytes(out, k3_config::settings_block[i], settings,
              legacy_k3_settings::block + legacy_k3_settings::block_stride * i);
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_low_bits(out, k3_config::group_1[i], group_value(config, 1, i));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_low_bits(out, k3_config::group_2[i], group_value(config, 2, i));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_low_bits(out, k3_config::group_3[i], group_value(config, 3, i));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_low_bits(out, k3_config::group_4[i], group_value(config, 4, i));
  for (unsigned i = 0; i < k3_outputs; ++i)
    put_low_bits(out, k3_config::group_5[i], group_value(config, 5, i));
  put_k3_settings(out, k3_config::values, config);
  // The new firmware keeps the pairs crossed: 356 before 352, 428 before 424.
  put_f32(out, k3_config::hundredths_1, hundredths_to_float(read32le_signed(config, hundredths_356)));
  put_f32(out, k3_config::hundredths_2, hundredths_to_float(read32le_signed(config, hundredths_352)));
  put_f32(out, k3_config::hundredths_3, hundredths_to_float(read32le_signed(config, hundredths_428)));
  put_f32(out, k3_config::hundredths_4, hundredths_to_float(read32le_signed(config, hundredths_424)));
  const std::uint32_t mask = read32le(settings, legacy_k3_settings::enable_mask);
  for (unsigned i = 0; i < k3_outputs; ++i) put(out, k3_config::enabled[i], (mask >> i) & 1u);
  const std::size_t block = legacy_k3_extension::table_1_block(n);
  for (unsigned i = 0; i < k3_outputs; ++i)
    put(out, k3_config::extension[i], read32le(extension, block + 4 * i));
  put_low_bits(out, k3_config::trailer, read32le(settings, legacy_k3_settings::trailer_word));
}

}  // namespace

int convert_k3_config(unsigned port, unsigned sequence) {
  std::uint8_t record[k3_config::record_size] = {};
  std::uint8_t settings[legacy_k3_settings::record_size] = {};
  std::uint8_t config[legacy_k3_config::record_size] = {};
  std::uint8_t extension[legacy_k3_extension::record_size] = {};

  read_plain_record_if_present(legacy_k3_extension::path, extension, legacy_k3_extension::record_size, 1);
  // Only the first three K3 modules have legacy files; a fourth one gets an
  // all-zero record under its own port.
  if (has_legacy_k3_files(sequence)) {
    read_plain_record_if_present(numbered_path(legacy_k3_settings::path_format, sequence), settings,
                                 legacy_k3_settings::record_size, 1);
    read_plain_record_if_present(numbered_path(legacy_k3_config::path_format, sequence), config,
                                 legacy_k3_config::record_size, 1);
    fill_k3_config(record, settings, config, extension, sequence);
  }
  return code(write_output(Output::k3_config, port, record));
}

}  // namespace sav3
