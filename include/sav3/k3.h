// The K3 eight-output module: its legacy records and its new records.
//
// The old firmware kept each K3 module's settings in two records of its own,
// numbered by the module's place among the K3 modules (1..3: the old firmware
// had files for three K3 modules only), its readings in an item record (and
// 1000 of them in its report), and a few per-module words in one extension
// record shared by all K3 modules.
#pragma once

#include <cstddef>

namespace sav3 {

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
}  // namespace legacy_k3_extension

}  // namespace sav3
