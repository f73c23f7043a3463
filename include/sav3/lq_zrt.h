// The supply modules, LQ boards and ZRT modules: their legacy records and the
// records the new firmware keeps for them.
//
// The old firmware kept most settings of the supply modules in records shared
// by all of them, with one slot per module, and had slots for two modules only:
// module n (1 or 2, the sequence number that LQ boards and ZRT modules share)
// owns the slot at base + stride x (n - 1). A third or fourth supply module has
// no slots. The LQ and ZRT records of the new firmware share one shape; where a
// field sits at the same place in both, it is declared once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sav3/controller_record.h"
#include "sav3/layout.h"
#include "sav3/legacy_config.h"

namespace sav3 {

// Supply module sequence numbers that have legacy slots and files: 1 and 2.
constexpr bool has_legacy_supply_slots(unsigned n) { return n == 1 || n == 2; }

// The slot of module n (1 or 2) in a shared legacy record.
constexpr std::size_t module_slot(std::size_t base, std::size_t stride, unsigned n) {
  return base + stride * (n - 1);
}

// ---------------------------------------------------------------------------
// Legacy records

// The board settings: "/mnt/1/cfg/progcfg" for LQ boards, "/mnt/1/cfg/zrtprogcfg"
// for ZRT modules, in the same layout. Every setting is an array of 32-bit
// words with one element per module, 4 bytes apart (16 bytes apart for the
// group at 256).
namespace legacy_progcfg {
inline constexpr int record_size = 388;
inline constexpr char lq_path[] = "/mnt/1/cfg/progcfg";
inline constexpr char zrt_path[] = "/mnt/1/cfg/zrtprogcfg";
inline constexpr std::size_t stride = 4;
inline constexpr std::size_t group_stride = 16;
inline constexpr std::size_t setting_7 = 36;
inline constexpr std::size_t setting_4 = 60;
inline constexpr std::size_t setting_5 = 72;
inline constexpr std::size_t setting_6 = 84;
inline constexpr std::size_t setting_1 = 108;
inline constexpr std::size_t setting_2 = 120;
inline constexpr std::size_t setting_3 = 132;
inline constexpr std::size_t date_second = 172;
inline constexpr std::size_t date_third = 184;
inline constexpr std::size_t year = 196;        // counted from 2010
inline constexpr std::size_t setting_9 = 256;   // group_stride
inline constexpr std::size_t setting_8 = 260;   // group_stride
inline constexpr std::size_t setting_12 = 264;  // group_stride
inline constexpr std::size_t setting_13 = 268;  // group_stride
inline constexpr std::size_t day_count = 336;
inline constexpr std::size_t setting_10 = 360;
inline constexpr std::size_t setting_11 = 372;
inline constexpr std::uint32_t year_base = 2010;
}  // namespace legacy_progcfg

// Where a report flag bit comes from: the reportcfg byte of module 1 and the
// distance to the byte of module 2, or always set.
struct ReportFlagSource {
  std::int16_t first_module;  // -1: the bit is always set
  std::uint8_t stride;
};
inline constexpr int report_flag_bits = 21;  // bits 21..31 are never set
inline constexpr ReportFlagSource report_always{-1, 0};

// Bit i of the LQ report flags.
inline constexpr ReportFlagSource lq_report_flags[report_flag_bits] = {
    {28, 13},       // bit 0, 0x1
    {29, 13},       // bit 1, 0x2
    {30, 13},       // bit 2, 0x4
    {31, 13},       // bit 3, 0x8
    {32, 13},       // bit 4, 0x10
    report_always,  // bit 5, 0x20
    report_always,  // bit 6, 0x40
    {33, 13},       // bit 7, 0x80
    {34, 13},       // bit 8, 0x100
    {35, 13},       // bit 9, 0x200
    report_always,  // bit 10, 0x400
    {36, 13},       // bit 11, 0x800
    {37, 13},       // bit 12, 0x1000
    report_always,  // bit 13, 0x2000
    {38, 13},       // bit 14, 0x4000
    {39, 13},       // bit 15, 0x8000
    {40, 13},       // bit 16, 0x10000
    {229, 5},       // bit 17, 0x20000
    {230, 5},       // bit 18, 0x40000
    {231, 5},       // bit 19, 0x80000
    {232, 5},       // bit 20, 0x100000
};

// Bit i of the ZRT report flags. Bits 6 and 7 cross: bit 6 takes the later
// byte (190), bit 7 the earlier one (188); byte 189 is not used.
inline constexpr ReportFlagSource zrt_report_flags[report_flag_bits] = {
    {184, 15},      // bit 0, 0x1
    {185, 15},      // bit 1, 0x2
    {186, 15},      // bit 2, 0x4
    {187, 15},      // bit 3, 0x8
    report_always,  // bit 4, 0x10
    report_always,  // bit 5, 0x20
    {190, 15},      // bit 6, 0x40
    {188, 15},      // bit 7, 0x80
    {191, 15},      // bit 8, 0x100
    report_always,  // bit 9, 0x200
    {192, 15},      // bit 10, 0x400
    {193, 15},      // bit 11, 0x800
    {194, 15},      // bit 12, 0x1000
    report_always,  // bit 13, 0x2000
    {195, 15},      // bit 14, 0x4000
    {196, 15},      // bit 15, 0x8000
    {197, 15},      // bit 16, 0x10000
    {244, 5},       // bit 17, 0x20000
    {245, 5},       // bit 18, 0x40000
    {246, 5},       // bit 19, 0x80000
    {247, 5},       // bit 20, 0x100000
};

// Every byte the maps pick lies in module 1's part of a reportcfg choice row,
// and the stride is that row's.
constexpr bool picks_from_rows(const ReportFlagSource (&map)[report_flag_bits], std::size_t row,
                               std::size_t stride, std::size_t row_2, std::size_t stride_2) {
  for (const ReportFlagSource& s : map) {
    if (s.first_module < 0) continue;
    const auto b = static_cast<std::size_t>(s.first_module);
    const bool in_1 = s.stride == stride && b >= row && b < row + stride;
    const bool in_2 = s.stride == stride_2 && b >= row_2 && b < row_2 + stride_2;
    if (!in_1 && !in_2) return false;
  }
  return true;
}
static_assert(picks_from_rows(lq_report_flags, legacy_reportcfg::lq_choices,
                              legacy_reportcfg::lq_choice_stride, legacy_reportcfg::lq_choices_2,
                              legacy_reportcfg::lq_choice_2_stride));
static_assert(picks_from_rows(zrt_report_flags, legacy_reportcfg::zrt_choices,
                              legacy_reportcfg::zrt_choice_stride, legacy_reportcfg::zrt_choices_2,
                              legacy_reportcfg::zrt_choice_2_stride));

// The battery/charger monitor item record, shared by all supply modules.
namespace legacy_crw {
inline constexpr int record_size = 772;
inline constexpr char path[] = "/mnt/1/cfg/CRWDataItemTmp";
inline constexpr std::size_t stride = 4;
inline constexpr std::size_t monitor_reading_1 = 0;   // float32
inline constexpr std::size_t monitor_reading_2 = 16;  // float32
inline constexpr std::size_t monitor_alarm = 176;     // int32, not 0 = alarm
inline constexpr std::size_t monitor_present = 192;   // int32, tested for non-zero
inline constexpr std::size_t monitor_off = 240;       // int32, tested for zero
inline constexpr std::size_t monitor_count = 256;     // int32, its low byte
inline constexpr std::size_t cells = 288;             // 30 float32 cell readings per module
inline constexpr std::size_t cell_block_stride = 120;
inline constexpr int cell_count = 30;
inline constexpr std::size_t cell_stride = 4;  // float32 after float32
}  // namespace legacy_crw

// The LQ item record "/mnt/1/cfg/LQDataItemTmp_%d.txt" (current readings of LQ
// board n) and the LQ report "/usr/sav/data/LQDataItemReport%d.txt" (1000 such
// records), despite the names fixed-size binary records.
namespace legacy_lq_item {
inline constexpr int record_size = 184;
inline constexpr char item_path[] = "/mnt/1/cfg/LQDataItemTmp_%d.txt";
inline constexpr char report_path[] = "/usr/sav/data/LQDataItemReport%d.txt";
inline constexpr std::size_t model = 25;          // text: "LQA20", "LQB400"
inline constexpr std::size_t answer_1 = 45;       // Yes or No
inline constexpr std::size_t answer_2 = 55;       // Yes or No
inline constexpr std::size_t state_1 = 65;        // text: "Active"
inline constexpr std::size_t state_2 = 75;        // text: "Active"
inline constexpr std::size_t reading_a = 88;      // float32
inline constexpr std::size_t reading_b = 92;      // float32
inline constexpr std::size_t reading_c = 96;      // float32
inline constexpr std::size_t first_hours = 100;   // int32
inline constexpr std::size_t second_hours = 104;  // int32
inline constexpr std::size_t value_d = 108;       // 32-bit word, copied
inline constexpr std::size_t value_e = 112;       // 32-bit word, copied
inline constexpr std::size_t fault_text = 116;    // list of fault words, may run to the end of the record
inline constexpr std::size_t tenths = 180;        // float32, one decimal
}  // namespace legacy_lq_item

// The ZRT item record "/mnt/1/cfg/ZrtDataItemTmp_%d" and the ZRT report
// "/usr/sav/data/ZrtDataItemReport%d.txt" (1000 such records).
namespace legacy_zrt_item {
inline constexpr int record_size = 296;
inline constexpr char item_path[] = "/mnt/1/cfg/ZrtDataItemTmp_%d";
inline constexpr char report_path[] = "/usr/sav/data/ZrtDataItemReport%d.txt";
inline constexpr std::size_t model = 30;         // text: "ZRT1", "ZRT2", "ZRT300"
inline constexpr std::size_t reading_a = 52;     // float32
inline constexpr std::size_t reading_b = 60;     // float32
inline constexpr std::size_t reading_c = 64;     // float32
inline constexpr std::size_t reading_d = 68;     // float32
inline constexpr std::size_t value_e = 72;       // 32-bit word, copied
inline constexpr std::size_t value_f = 76;       // 32-bit word, copied
inline constexpr std::size_t answer_2 = 90;      // Yes or No (the one the inventory tests)
inline constexpr std::size_t answer_1 = 100;     // Yes or No
inline constexpr std::size_t state_1 = 110;      // text: "Active"
inline constexpr std::size_t enable_word = 140;  // text: "Enable"
// The second duration is kept per module, in hours: module n at 148 + 4n.
inline constexpr std::size_t module_hours_base = 148;
inline constexpr std::size_t module_hours_stride = 4;
inline constexpr std::size_t first_hours = 164;  // int32
inline constexpr std::size_t small_count = 192;  // int32, its low byte
inline constexpr std::size_t state_2 = 220;      // text: "Active"
inline constexpr std::size_t mode_text = 230;    // list of mode and fault words, may run to the end
}  // namespace legacy_zrt_item

// The battery item record of a supply module (current readings) and its
// battery report (1000 such records): the same layout for LQ and ZRT.
namespace legacy_supply_battery {
inline constexpr int record_size = 40;
inline constexpr char lq_item_path[] = "/mnt/1/cfg/BatteryDataItemTmp_%d";
inline constexpr char zrt_item_path[] = "/mnt/1/cfg/ZrtBatteryDataItemTmp_%d";
inline constexpr char lq_report_path[] = "/usr/sav/data/BatteryDataItemReport%d.txt";
inline constexpr char zrt_report_path[] = "/usr/sav/data/ZrtBatteryDataItemReport%d.txt";
inline constexpr std::size_t reading_a = 0;   // float32
inline constexpr std::size_t reading_b = 12;  // float32
inline constexpr std::size_t reading_c = 16;  // float32
inline constexpr std::size_t year_span = 24;  // float32 years of 365 days
inline constexpr std::size_t value_d = 28;    // 32-bit word, copied
inline constexpr std::size_t day_span = 36;   // int32 days
}  // namespace legacy_supply_battery

// The small extra report of a supply module: 1000 records of 12 bytes.
namespace legacy_supply_extra {
inline constexpr int record_size = 12;
inline constexpr char lq_report_path[] = "/usr/sav/data/NLQDataItemReport%d.txt";
inline constexpr char zrt_report_path[] = "/usr/sav/data/NZrtDataItemReport%d.txt";
inline constexpr std::size_t value_1 = 0;  // 32-bit word, copied
inline constexpr std::size_t value_2 = 4;  // 32-bit word, copied
inline constexpr std::size_t hours = 8;    // float32
}  // namespace legacy_supply_extra

// The device alarm record: the number of supply modules in alarm.
namespace legacy_device_alarm {
inline constexpr int record_size = 436;
inline constexpr char path[] = "/mnt/1/cfg/DeviceAlarm";
inline constexpr std::size_t alarm_count = 24;  // uint32
}  // namespace legacy_device_alarm

// "/mnt/1/cfg/mcucfg": one character per supply module, '1' when switched on.
namespace legacy_mcucfg {
inline constexpr int record_size = 11;
inline constexpr char path[] = "/mnt/1/cfg/mcucfg";
inline constexpr std::size_t module_switch = 0;  // + n - 1
inline constexpr std::uint8_t switched_on = '1';
}  // namespace legacy_mcucfg

// The controller keeps one reading per supply module: its readings B and C (in
// the controller item and report records) belong to modules 1 and 2.
constexpr std::size_t controller_supply_reading(unsigned n) {
  return module_slot(controller_record::reading_b,
                     controller_record::reading_c - controller_record::reading_b, n);
}

// ---------------------------------------------------------------------------
// The supply configuration record "/usr/sav3/cfg/port%d" and its sub-record
// "/usr/sav3/cfg/subport%d", the same for LQ boards and ZRT modules.

namespace supply_config {
inline constexpr int record_size = 103;
inline constexpr Field warning_switch{"warning switch word", 0, 4, Kind::flags};
inline constexpr Field setting_4{"setting 4", 4, 1, Kind::u8};
inline constexpr Field setting_5{"setting 5", 5, 1, Kind::u8};
inline constexpr Field setting_6{"setting 6", 6, 1, Kind::u8};
inline constexpr Field setting_1{"setting 1", 7, 1, Kind::u8};
inline constexpr Field setting_2{"setting 2", 8, 1, Kind::u8};
inline constexpr Field setting_3{"setting 3", 9, 1, Kind::u8};
// The full year, the one value of the new firmware kept high byte first.
inline constexpr Field year{"configured date, year", 10, 2, Kind::u16be};
inline constexpr Field date_second{"configured date, second byte", 12, 1, Kind::u8};
inline constexpr Field date_third{"configured date, third byte", 13, 1, Kind::u8};
inline constexpr Field warning_duration{"warning duration, seconds", 14, 4, Kind::u32, 3600};
inline constexpr Field battery_warning_value{"battery warning value", 18, 4, Kind::f32};
inline constexpr Field year_span{"year span, seconds", 22, 4, Kind::u32, 31536000};
inline constexpr Field setting_12{"setting 12", 26, 4, Kind::bytes};
inline constexpr Field day_count{"day count, seconds", 30, 4, Kind::u32, 86400};
inline constexpr Field email_byte{"e-mail byte", 34, 1, Kind::u8};
inline constexpr Field reserved_35{"reserved at 35", 35, 4, Kind::reserved};
inline constexpr Field setting_7{"setting 7", 39, 1, Kind::u8};
inline constexpr Field setting_13_zero{"setting 13 is zero", 40, 1, Kind::u8};
inline constexpr Field report_flags{"report flags", 41, 4, Kind::flags};
inline constexpr Field reserved_45{"reserved at 45", 45, 58, Kind::reserved};
inline constexpr Field fields[] = {
    warning_switch,  setting_4,    setting_5,   setting_6,  setting_1,        setting_2,
    setting_3,       year,         date_second, date_third, warning_duration, battery_warning_value,
    year_span,       setting_12,   day_count,   email_byte, reserved_35,      setting_7,
    setting_13_zero, report_flags, reserved_45};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"supply configuration", record_size, fields};

inline constexpr std::uint32_t warning_switch_on = 0x4000;  // bit 14, whatever the legacy switch holds
}  // namespace supply_config

namespace supply_config_sub {
inline constexpr int record_size = 27;
inline constexpr Field monitor_flags{"monitor flags", 0, 1, Kind::flags};
inline constexpr Field reserved_1{"reserved at 1", 1, 26, Kind::reserved};
inline constexpr Field fields[] = {monitor_flags, reserved_1};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"supply configuration sub-record", record_size, fields};

// Bits of the monitor flags.
inline constexpr unsigned monitor_present_bit = 0;  // CRW word at 192 is not 0
inline constexpr unsigned monitor_off_bit = 3;      // CRW word at 240 is 0
}  // namespace supply_config_sub

// ---------------------------------------------------------------------------
// The live records "/usr/sav3/data/port%d" and the history records
// "/usr/sav3/history/port%d" of LQ boards and ZRT modules share one shape: the
// live record has the field positions of the first 76 bytes of the history
// record. The record namespaces below take their shared fields from the
// namespaces they name with `using namespace`.

// Fields at the same place with the same meaning in all four records.
namespace supply_record {
inline constexpr Field module_type{"module type", 0, 1, Kind::u8};
inline constexpr Field model{"model", 1, 1, Kind::u8};
inline constexpr Field state_flags{"state flags", 3, 1, Kind::flags};
inline constexpr Field fault_flags{"fault flags", 4, 1, Kind::flags};
inline constexpr Field battery_flags{"battery flags", 5, 1, Kind::flags};
inline constexpr Field year{"configured date, year", 18, 2, Kind::u16be};  // high byte first
inline constexpr Field date_second{"configured date, second byte", 20, 1, Kind::u8};
inline constexpr Field date_third{"configured date, third byte", 21, 1, Kind::u8};
inline constexpr Field first_duration{"first duration, seconds", 22, 4, Kind::s32, 3600};
inline constexpr Field second_duration{"second duration, seconds", 26, 4, Kind::s32, 3600};
inline constexpr Field setting_1{"setting 1", 38, 1, Kind::u8};
inline constexpr Field setting_2{"setting 2", 39, 1, Kind::u8};
inline constexpr Field setting_3{"setting 3", 40, 1, Kind::u8};
inline constexpr Field setting_4{"setting 4", 41, 1, Kind::u8};
inline constexpr Field setting_5{"setting 5", 42, 1, Kind::u8};
inline constexpr Field setting_6{"setting 6", 43, 1, Kind::u8};
inline constexpr Field setting_7{"setting 7", 44, 1, Kind::u8};
inline constexpr Field battery_reading_b{"battery reading B", 53, 2, Kind::u16, 100};
inline constexpr Field reading_time{"reading time", 65, 4, Kind::epoch};
// Bytes 3 to 5 and 18 to 29, the same in all four records.
inline constexpr auto flag_fields = std::array{state_flags, fault_flags, battery_flags};
inline constexpr auto date_and_duration_fields =
    std::array{year, date_second, date_third, first_duration, second_duration};
// Bytes 38 to 44.
inline constexpr auto setting_fields =
    std::array{setting_1, setting_2, setting_3, setting_4, setting_5, setting_6};
}  // namespace supply_record

// Fields of the LQ and ZRT live records.
namespace supply_live {
inline constexpr int record_size = 92;
inline constexpr Field setting_8{"setting 8", 45, 4, Kind::bytes};
inline constexpr Field setting_9{"setting 9", 49, 4, Kind::bytes};
inline constexpr Field battery_warning_value{"battery warning value", 55, 2, Kind::u16, 100};
inline constexpr Field setting_10{"setting 10", 57, 4, Kind::bytes};
inline constexpr Field setting_11{"setting 11", 61, 4, Kind::bytes};
inline constexpr Field warning_duration{"warning duration, seconds", 69, 4, Kind::u32, 3600};
inline constexpr Field battery_warning_value_again{"battery warning value, again", 73, 2, Kind::u16, 100};
inline constexpr Field record_flags{"record flags", 75, 1, Kind::flags};
inline constexpr Field reserved_76{"reserved at 76", 76, 16, Kind::reserved};
// Bytes 38 to 91 of both live records.
inline constexpr auto tail_fields =
    join_fields(supply_record::setting_fields,
                std::array{supply_record::setting_7, setting_8, setting_9, supply_record::battery_reading_b,
                           battery_warning_value, setting_10, setting_11, supply_record::reading_time,
                           warning_duration, battery_warning_value_again, record_flags, reserved_76});
inline constexpr unsigned monitor_alarm_bit = 2;  // of the battery flags: the CRW alarm word is not 0
inline constexpr unsigned live_record_bit = 0;    // of the record flags: always set
}  // namespace supply_live

// Fields of the LQ and ZRT history records.
namespace supply_history {
inline constexpr int record_size = 104;
inline constexpr Field reserved_45{"reserved at 45", 45, 4, Kind::reserved};
inline constexpr Field battery_value_d{"battery value D", 49, 4, Kind::bytes};
inline constexpr Field battery_reading_c{"battery reading C", 55, 2, Kind::u16, 100};
inline constexpr Field extra_value_1{"extra value 1", 57, 4, Kind::bytes};
inline constexpr Field extra_value_2{"extra value 2", 61, 4, Kind::bytes};
inline constexpr Field extra_duration{"extra duration, seconds", 69, 4, Kind::u32, 3600};
inline constexpr Field battery_reading_c_again{"battery reading C, again", 73, 2, Kind::u16, 100};
inline constexpr Field flags_3{"flags 3", 75, 1, Kind::flags};
inline constexpr Field reserved_76{"reserved at 76", 76, 20, Kind::reserved};
inline constexpr Field year_span{"battery year span, seconds", 96, 4, Kind::u32, 31536000};
inline constexpr Field day_span{"battery day span, seconds", 100, 4, Kind::s32, 86400};
// Bytes 38 to 103 of both history records.
inline constexpr auto tail_fields = join_fields(
    supply_record::setting_fields,
    std::array{supply_record::setting_7, reserved_45, battery_value_d, supply_record::battery_reading_b,
               battery_reading_c, extra_value_1, extra_value_2, supply_record::reading_time, extra_duration,
               battery_reading_c_again, flags_3, reserved_76, year_span, day_span});
}  // namespace supply_history

// LQ fields of both the live and the history record.
namespace lq_readings {
inline constexpr Field tenths_quantity{"tenths quantity", 2, 1, Kind::u8, 10};
inline constexpr Field reserved_6{"reserved at 6", 6, 2, Kind::reserved};
inline constexpr Field board_reading_b{"board reading B", 8, 2, Kind::u16, 100};
inline constexpr Field board_reading_a{"board reading A", 10, 2, Kind::u16, 100};
inline constexpr Field board_reading_c{"board reading C", 12, 2, Kind::u16, 100};
inline constexpr Field board_value_e{"board value E", 30, 4, Kind::bytes};
inline constexpr Field board_value_d{"board value D", 34, 4, Kind::bytes};
// Model codes.
inline constexpr std::uint8_t model_lqa20 = 1, model_lqb400 = 2, model_other = 3;
// Bits of the state flags.
inline constexpr unsigned answer_1_bit = 0, answer_2_bit = 1, state_1_active_bit = 2, state_2_active_bit = 3;
inline constexpr unsigned charge_mode_bit = 6;  // live record only
// Bits of the fault flags; bit 5 is set in every record.
inline constexpr unsigned ground_fault_bit = 1, temperature_fault_bit = 2, external_fault_bit = 3,
                          charge_fault_bit = 4, fault_marker_bit = 5, voltage_fault_bit = 7;
// Bits of the battery flags.
inline constexpr unsigned battery_lost_bit = 0, short_latch_bit = 1;
}  // namespace lq_readings

// ZRT fields of both the live and the history record.
namespace zrt_readings {
inline constexpr Field small_count{"small count", 2, 1, Kind::u8};
inline constexpr Field module_reading_c{"module reading C", 6, 2, Kind::u16, 100};
inline constexpr Field module_reading_b{"module reading B", 8, 2, Kind::u16, 100};
inline constexpr Field module_reading_a{"module reading A", 10, 2, Kind::u16, 100};
inline constexpr Field module_reading_d{"module reading D", 16, 2, Kind::u16, 100};
inline constexpr Field module_value_f{"module value F", 30, 4, Kind::bytes};
inline constexpr Field module_value_e{"module value E", 34, 4, Kind::bytes};
// Model codes: ZRT1 is 0, so a zero byte names a model.
inline constexpr std::uint8_t model_zrt1 = 0, model_zrt2 = 1, model_zrt300 = 2, model_other = 3;
// Bits of the state flags. Bit 4 is set when the second state word is NOT
// "Active" (an empty word sets it).
inline constexpr unsigned answer_1_bit = 0, answer_2_bit = 1, state_1_active_bit = 2,
                          state_2_not_active_bit = 4, dc_mode_bit = 5, enabled_bit = 6;
// Bits of the battery flags (the fault flags stay 0).
inline constexpr unsigned battery_lost_bit = 0;
}  // namespace zrt_readings

// The LQ live record "/usr/sav3/data/port%d" (92 bytes).
namespace lq_live {
using namespace supply_record;
using namespace supply_live;
using namespace lq_readings;
inline constexpr Field controller_reading{"controller reading", 14, 2, Kind::u16, 100};
inline constexpr Field controller_reading_again{"controller reading, again", 16, 2, Kind::u16, 100};
inline constexpr auto fields =
    join_fields(std::array{module_type, model, tenths_quantity}, flag_fields,
                std::array{reserved_6, board_reading_b, board_reading_a, board_reading_c, controller_reading,
                           controller_reading_again},
                date_and_duration_fields, std::array{board_value_e, board_value_d}, supply_live::tail_fields);
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"LQ live record", record_size, fields};
}  // namespace lq_live

// The ZRT live record "/usr/sav3/data/port%d" (92 bytes).
namespace zrt_live {
using namespace supply_record;
using namespace supply_live;
using namespace zrt_readings;
inline constexpr Field controller_reading{"controller reading", 12, 2, Kind::u16, 100};
inline constexpr Field controller_reading_again{"controller reading, again", 14, 2, Kind::u16, 100};
inline constexpr auto fields = join_fields(
    std::array{module_type, model, small_count}, flag_fields,
    std::array{module_reading_c, module_reading_b, module_reading_a, controller_reading,
               controller_reading_again, module_reading_d},
    date_and_duration_fields, std::array{module_value_f, module_value_e}, supply_live::tail_fields);
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"ZRT live record", record_size, fields};
}  // namespace zrt_live

// The live sub-record "/usr/sav3/data/subport%d" of an LQ board or a ZRT
// module (90 bytes): the battery/charger monitor readings of the module.
namespace supply_live_sub {
inline constexpr int record_size = 90;
inline constexpr Field sub_flags{"sub flags", 0, 1, Kind::flags};
inline constexpr Field reserved_1{"reserved at 1", 1, 1, Kind::reserved};
// The controller reading again, here kept signed.
inline constexpr Field controller_reading{"controller reading", 2, 2, Kind::s16, 100};
inline constexpr Field monitor_reading_1{"monitor reading 1", 4, 2, Kind::u16, 100};
inline constexpr Field monitor_reading_2{"monitor reading 2", 6, 2, Kind::u16, 100};
inline constexpr auto cell_reading =
    field_array<legacy_crw::cell_count>("cell reading", 8, 2, 2, Kind::u16, 100);
inline constexpr Field monitor_count{"monitor count", 68, 1, Kind::u8};
inline constexpr Field reserved_69{"reserved at 69", 69, 17, Kind::reserved};
inline constexpr Field reading_time{"reading time", 86, 4, Kind::epoch};
inline constexpr auto fields = join_fields(single(sub_flags), single(reserved_1), single(controller_reading),
                                           single(monitor_reading_1), single(monitor_reading_2), cell_reading,
                                           single(monitor_count), single(reserved_69), single(reading_time));
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"supply live sub-record", record_size, fields};
inline constexpr unsigned alarm_bit = 0;     // the device alarm count reaches n
inline constexpr unsigned switched_bit = 1;  // the module's mcucfg character is '1'
}  // namespace supply_live_sub

// The LQ history record "/usr/sav3/history/port%d" (1000 x 104 bytes).
namespace lq_history {
using namespace supply_record;
using namespace supply_history;
using namespace lq_readings;
inline constexpr Field battery_reading_a{"battery reading A", 14, 2, Kind::u16, 100};
inline constexpr Field controller_reading{"controller reading", 16, 2, Kind::u16, 100};
inline constexpr auto fields = join_fields(std::array{module_type, model, tenths_quantity}, flag_fields,
                                           std::array{reserved_6, board_reading_b, board_reading_a,
                                                      board_reading_c, battery_reading_a, controller_reading},
                                           date_and_duration_fields, std::array{board_value_e, board_value_d},
                                           supply_history::tail_fields);
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"LQ history record", record_size, fields};
}  // namespace lq_history

// The ZRT history record "/usr/sav3/history/port%d" (1000 x 104 bytes).
namespace zrt_history {
using namespace supply_record;
using namespace supply_history;
using namespace zrt_readings;
inline constexpr Field battery_reading_a{"battery reading A", 12, 2, Kind::u16, 100};
inline constexpr Field battery_reading_a_again{"battery reading A, again", 14, 2, Kind::u16, 100};
inline constexpr auto fields = join_fields(
    std::array{module_type, model, small_count}, flag_fields,
    std::array{module_reading_c, module_reading_b, module_reading_a, battery_reading_a,
               battery_reading_a_again, module_reading_d},
    date_and_duration_fields, std::array{module_value_f, module_value_e}, supply_history::tail_fields);
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"ZRT history record", record_size, fields};
}  // namespace zrt_history

// The companion history "/usr/sav3/history/subport%d": 1000 records of 12
// zero bytes, kept for the new firmware's file set.
namespace supply_history_sub {
inline constexpr int record_size = 12;
inline constexpr Field reserved{"reserved at 0", 0, 12, Kind::reserved};
inline constexpr Field fields[] = {reserved};
inline constexpr RecordLayout layout{"supply history sub-record", record_size, fields};
}  // namespace supply_history_sub

// ---------------------------------------------------------------------------
// Steps shared by the live-data and history converters.

// The configured date (bytes 18 to 21) and settings 1 to 6 (bytes 38 to 43) of
// a live or history record, from the board settings slots of module n (1, 2).
void fill_supply_settings(Bytes record, ConstBytes progcfg, unsigned n);

// The LQ board's readings of one moment, from an LQ item or report record:
// model, tenths quantity, state flag bits 0 to 3, fault flags, battery flag
// bits 0 and 1, board readings A to C, both durations, board values D and E.
void fill_lq_readings(Bytes record, ConstBytes item);

// The ZRT module's readings of one moment, from a ZRT item or report record:
// model, small count, state flags, battery flag bit 0, module readings A to D,
// both durations (the second from module n's slot), module values E and F.
void fill_zrt_readings(Bytes record, ConstBytes item, unsigned n);

// ---------------------------------------------------------------------------
// The converters, called by the port dispatches with (port 1..4, sequence
// number). Each writes the two files of its port and returns the first
// non-zero result code of its writes, else 0.

int convert_lq_config(unsigned port, unsigned sequence);
int convert_zrt_config(unsigned port, unsigned sequence);
int convert_lq_live_data(unsigned port, unsigned sequence);
int convert_zrt_live_data(unsigned port, unsigned sequence);
int convert_lq_history(unsigned port, unsigned sequence);
int convert_zrt_history(unsigned port, unsigned sequence);

}  // namespace sav3
