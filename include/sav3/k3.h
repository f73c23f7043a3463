// The K3 eight-output module: its legacy records and its new records.
//
// The old firmware kept each K3 module's settings in two records of its own,
// numbered by the module's place among the K3 modules (1..3: the old firmware
// had files for three K3 modules only), its readings in an item record (and
// 1000 of them in its report), and a few per-module words in one extension
// record shared by all K3 modules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sav3/convert.h"
#include "sav3/layout.h"

namespace sav3 {

// A K3 module has eight outputs; its legacy records hold one of each value per output.
inline constexpr unsigned k3_outputs = 8;

// K3 sequence numbers that have legacy files and slots: 1, 2 and 3.
inline constexpr unsigned legacy_k3_modules = 3;
constexpr bool has_legacy_k3_files(unsigned n) { return n >= 1 && n <= legacy_k3_modules; }

// The K3 output settings record "/mnt/1/cfg/K3Enablecfg_%d".
namespace legacy_k3_settings {
inline constexpr int record_size = 520;
inline constexpr char path_format[] = "/mnt/1/cfg/K3Enablecfg_%d";
inline constexpr std::size_t enable_mask = 0;  // 32-bit word, bit i enables output i; bits 8..31 unused
// Output i owns a 60-byte block at block + block_stride x i; the new records
// keep its first 32 bytes.
inline constexpr std::size_t block = 20;
inline constexpr std::size_t block_stride = 60;
inline constexpr std::size_t block_kept = 32;
inline constexpr std::size_t trailer_word = 508;  // 32-bit word, its low byte is kept
}  // namespace legacy_k3_settings

// The K3 configuration record "/mnt/1/cfg/K3cfg_%d".
namespace legacy_k3_config {
inline constexpr int record_size = 432;
inline constexpr char path_format[] = "/mnt/1/cfg/K3cfg_%d";
// Forty small int32 settings at 4j: five groups of eight, one value per output.
inline constexpr std::size_t small_settings = 0;
inline constexpr std::size_t small_setting_count = 40;
inline constexpr std::size_t group_stride = 32;  // group g (1..5) starts at 32 x (g - 1)
// The fifth group: an output whose int32 here is not 0 is configured (the
// alarm records mark it so).
inline constexpr std::size_t configured_group = 128;
// Four groups of eight float32 per-output settings.
inline constexpr std::size_t setting_a = 160;
inline constexpr std::size_t setting_b = 192;
inline constexpr std::size_t setting_c = 224;
inline constexpr std::size_t setting_d = 256;
inline constexpr std::size_t setting_groups[] = {setting_a, setting_b, setting_c, setting_d};
// int32 values kept in hundredths; the new configuration record stores them in
// crossed pairs (356 before 352, 428 before 424).
inline constexpr std::size_t hundredths_352 = 352;
inline constexpr std::size_t hundredths_356 = 356;
inline constexpr std::size_t hundredths_424 = 424;
inline constexpr std::size_t hundredths_428 = 428;
}  // namespace legacy_k3_config

// The K3 item record "/mnt/1/cfg/K3DataItemTmp_%d" (current readings) and the
// K3 report "/usr/sav/data/K3DataItemReport%d.txt" (1000 such records).
namespace legacy_k3_item {
inline constexpr int record_size = 492;
inline constexpr char item_path_format[] = "/mnt/1/cfg/K3DataItemTmp_%d";
inline constexpr char report_path_format[] = "/usr/sav/data/K3DataItemReport%d.txt";
// Eight float32 readings each, one per output.
inline constexpr std::size_t reading_a = 0;
inline constexpr std::size_t reading_b = 32;
inline constexpr std::size_t reading_c = 64;
// Eight 10-byte words each, one per output.
inline constexpr std::size_t word_stride = 10;
inline constexpr std::size_t answer_word = 96;       // No (then NUL) or anything else
inline constexpr std::size_t state_word_1 = 176;     // "Inactive" / "Active"
inline constexpr std::size_t state_word_2 = 256;     // "Inactive" / "Active"
inline constexpr std::size_t condition_word = 336;   // "Fault" / "Normal"
inline constexpr std::size_t tenths_quantity = 416;  // float32, one decimal
}  // namespace legacy_k3_item

// The K3 extension record "/mnt/1/k3_extends_data", shared by all K3 modules:
// two tables of 32-byte blocks (eight 32-bit words, one per output), one block
// per module. The first table has room for three modules only.
namespace legacy_k3_extension {
inline constexpr int record_size = 244;
inline constexpr char path[] = "/mnt/1/k3_extends_data";
inline constexpr std::size_t block_stride = 32;
inline constexpr std::size_t table_1 = 0;   // module n at 32 x (n - 1), n = 1..3
inline constexpr std::size_t table_2 = 96;  // module n at 96 + 32 x (n - 1), n = 1..4

// Module n's block in each table, when the table has one for it. The first
// table holds modules 1 to 3 only: for a fourth module the plain formula would
// land on the first module's block in the second table, so it has none.
constexpr bool has_table_1_block(unsigned n) { return n >= 1 && n <= 3; }
constexpr bool has_table_2_block(unsigned n) { return n >= 1 && n <= 4; }
constexpr std::size_t table_1_block(unsigned n) { return table_1 + block_stride * (n - 1); }
constexpr std::size_t table_2_block(unsigned n) { return table_2 + block_stride * (n - 1); }
}  // namespace legacy_k3_extension

// The readings of one moment, bytes 0 to 81 of both the K3 live record and the
// K3 history record. A state word gives 0 for "Inactive", 1 for "Active" and 2
// for anything else; a condition word 0 for "Fault", 1 for "Normal", 2 else;
// an answer is 0 for No and 1 for anything else.
namespace k3_readings {
inline constexpr int size = 82;
inline constexpr Field module_type{"module type", 0, 1, Kind::u8};
inline constexpr Field tenths_quantity{"tenths quantity", 1, 1, Kind::u8, 10};
inline constexpr auto state_2 = field_array<k3_outputs>("state 2 of output", 2, 1, 1, Kind::u8);
inline constexpr auto state_1 = field_array<k3_outputs>("state 1 of output", 10, 1, 1, Kind::u8);
inline constexpr auto condition = field_array<k3_outputs>("condition of output", 18, 1, 1, Kind::u8);
inline constexpr auto answer = field_array<k3_outputs>("answer of output", 26, 1, 1, Kind::u8);
inline constexpr auto reading_a = field_array<k3_outputs>("reading A of output", 34, 2, 2, Kind::u16, 100);
inline constexpr auto reading_b = field_array<k3_outputs>("reading B of output", 50, 2, 2, Kind::u16, 100);
inline constexpr auto reading_c = field_array<k3_outputs>("reading C of output", 66, 2, 2, Kind::u16, 100);
inline constexpr auto fields = join_fields(single(module_type), single(tenths_quantity), state_2, state_1,
                                           condition, answer, reading_a, reading_b, reading_c);
static_assert(fields_tile(fields, size));

inline constexpr std::uint8_t inactive = 0, active = 1, other_state = 2;
inline constexpr std::uint8_t fault = 0, normal = 1, other_condition = 2;
inline constexpr std::uint8_t answer_no = 0, answer_other = 1;
}  // namespace k3_readings

// Fills bytes 0 to 81 of a K3 live or history record from one legacy K3 item
// (or report) record.
void fill_k3_readings(Bytes record, ConstBytes item);

// Settings A to D of the eight outputs (the configuration record's four
// float32 groups), as every new K3 record keeps them: in hundredths, four
// groups of eight 16-bit values one after the other (A of outputs 1..8, then
// B, C, D). The records name the groups differently.
namespace k3_settings {
inline constexpr std::size_t groups = 4;
inline constexpr std::size_t count = groups * k3_outputs;
using Names = std::array<const char*, groups>;
inline constexpr Names setting_names = {"setting A of output", "setting B of output", "setting C of output",
                                        "setting D of output"};
constexpr std::array<Field, count> fields(std::uint16_t first, const Names& names) {
  auto group = [&](unsigned g) {
    const auto at = static_cast<std::uint16_t>(first + 2 * k3_outputs * g);
    return field_array<k3_outputs>(names[g], at, 2, 2, Kind::u16, 100);
  };
  return join_fields(group(0), group(1), group(2), group(3));
}
// Setting g (0 for A .. 3 for D) of output i (0..7) among a record's fields.
constexpr const Field& setting(std::span<const Field, count> fields, unsigned g, unsigned i) {
  return fields[g * k3_outputs + i];
}
}  // namespace k3_settings

// Stores settings A to D of a legacy K3 configuration record into a record's
// fields of them.
void put_k3_settings(Bytes record, std::span<const Field, k3_settings::count> fields, ConstBytes config);

// The K3 port configuration record "/usr/sav3/cfg/port%d".
namespace k3_config {
inline constexpr int record_size = 489;
inline constexpr Field reserved_head{"reserved at 0", 0, 4, Kind::reserved};
inline constexpr auto settings_block =
    field_array<k3_outputs>("settings block of output", 4, 32, 32, Kind::bytes);
inline constexpr auto group_1 =
    field_array<k3_outputs>("configuration group 1 of output", 260, 1, 1, Kind::u8);
inline constexpr auto group_2 =
    field_array<k3_outputs>("configuration group 2 of output", 268, 1, 1, Kind::u8);
inline constexpr auto group_3 =
    field_array<k3_outputs>("configuration group 3 of output", 276, 1, 1, Kind::u8);
inline constexpr auto group_4 =
    field_array<k3_outputs>("configuration group 4 of output", 284, 1, 1, Kind::u8);
inline constexpr auto group_5 =
    field_array<k3_outputs>("configuration group 5 of output", 292, 1, 1, Kind::u8);
inline constexpr auto values =
    k3_settings::fields(300, {"configuration value 1 of output", "configuration value 2 of output",
                              "configuration value 3 of output", "configuration value 4 of output"});
inline constexpr Field hundredths_1{"hundredths value 1", 364, 4, Kind::f32};
inline constexpr Field hundredths_2{"hundredths value 2", 368, 4, Kind::f32};
inline constexpr Field hundredths_3{"hundredths value 3", 372, 4, Kind::f32};
inline constexpr Field hundredths_4{"hundredths value 4", 376, 4, Kind::f32};
inline constexpr auto enabled = field_array<k3_outputs>("enabled flag of output", 380, 1, 1, Kind::u8);
inline constexpr Field reserved_middle{"reserved at 388", 388, 16, Kind::reserved};
inline constexpr auto extension = field_array<k3_outputs>("extension word of output", 404, 4, 4, Kind::bytes);
inline constexpr Field reserved_tail{"reserved at 436", 436, 52, Kind::reserved};
inline constexpr Field trailer{"output settings trailer", 488, 1, Kind::u8};
inline constexpr auto fields =
    join_fields(single(reserved_head), settings_block, group_1, group_2, group_3, group_4, group_5, values,
                single(hundredths_1), single(hundredths_2), single(hundredths_3), single(hundredths_4),
                enabled, single(reserved_middle), extension, single(reserved_tail), single(trailer));
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"K3 port configuration", record_size, fields};
}  // namespace k3_config

// The K3 live record "/usr/sav3/data/port%d": the readings of bytes 0 to 81,
// then the module's settings and the reading time.
namespace k3_live {
inline constexpr int record_size = 488;
inline constexpr auto settings_block =
    field_array<k3_outputs>("settings block of output", 82, 32, 32, Kind::bytes);
inline constexpr Field reserved_1{"reserved at 338", 338, 1, Kind::reserved};
inline constexpr auto small_setting = field_array<40>("small setting", 339, 1, 1, Kind::u8);
inline constexpr auto settings = k3_settings::fields(379, k3_settings::setting_names);
inline constexpr auto enabled = field_array<k3_outputs>("enabled flag of output", 443, 1, 1, Kind::u8);
inline constexpr auto extension_2 =
    field_array<k3_outputs>("extension value 2 of output", 451, 4, 4, Kind::bytes);
inline constexpr Field reserved_2{"reserved at 483", 483, 1, Kind::reserved};
inline constexpr Field reading_time{"reading time", 484, 4, Kind::epoch};
inline constexpr auto fields =
    join_fields(k3_readings::fields, settings_block, single(reserved_1), small_setting, settings, enabled,
                extension_2, single(reserved_2), single(reading_time));
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"K3 live record", record_size, fields};
}  // namespace k3_live

// One K3 history record of "/usr/sav3/history/port%d" (1000 of them): the
// readings of bytes 0 to 81 from the K3 report record of the same index, the
// module's settings as they stand at the migration (the same in every
// record), and the time of the controller report record of the same index.
namespace k3_history {
inline constexpr int record_size = 267;
inline constexpr auto extension_2 =
    field_array<k3_outputs>("extension value 2 of output", 82, 4, 4, Kind::bytes);
inline constexpr auto small_setting = field_array<40>("small setting", 114, 1, 1, Kind::u8);
inline constexpr auto settings = k3_settings::fields(154, k3_settings::setting_names);
inline constexpr auto enabled = field_array<k3_outputs>("enabled flag of output", 218, 1, 1, Kind::u8);
inline constexpr auto extension_1 =
    field_array<k3_outputs>("extension value 1 of output", 226, 4, 4, Kind::bytes);
inline constexpr Field reserved_1{"reserved at 258", 258, 1, Kind::reserved};
inline constexpr Field record_time{"record time", 259, 4, Kind::epoch};
inline constexpr Field reserved_2{"reserved at 263", 263, 4, Kind::reserved};
inline constexpr auto fields =
    join_fields(k3_readings::fields, extension_2, small_setting, settings, enabled, extension_1,
                single(reserved_1), single(record_time), single(reserved_2));
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"K3 history record", record_size, fields};
}  // namespace k3_history

int convert_k3_config(unsigned port, unsigned sequence);
int convert_k3_live_data(unsigned port, unsigned sequence);
int convert_k3_history(unsigned port, unsigned sequence);

}  // namespace sav3
