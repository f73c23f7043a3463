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

#include <cstddef>
#include <cstdint>

#include "sav3/layout.h"

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

// The battery warning settings: "/mnt/1/cfg/batterywarningcfg" (LQ) and
// "/mnt/1/cfg/zrtbatterywarningcfg" (ZRT), in the same layout.
namespace legacy_battery_warning {
inline constexpr int record_size = 292;
inline constexpr char lq_path[] = "/mnt/1/cfg/batterywarningcfg";
inline constexpr char zrt_path[] = "/mnt/1/cfg/zrtbatterywarningcfg";
inline constexpr std::size_t block_stride = 140;
inline constexpr std::size_t year_span = 8;        // float32 years, block_stride
inline constexpr std::size_t warning_value = 20;   // float32, block_stride
inline constexpr std::size_t charge_mode = 68;     // text, "charge"; one for all LQ boards
inline constexpr std::size_t warning_hours = 280;  // float32, 4 bytes apart
inline constexpr std::size_t hours_stride = 4;
inline constexpr std::size_t warning_switch = 288;  // one byte per module
inline constexpr std::size_t switch_stride = 1;
}  // namespace legacy_battery_warning

namespace legacy_emailcfg {
inline constexpr int record_size = 756;
inline constexpr char path[] = "/mnt/1/cfg/emailcfg";
inline constexpr std::size_t supply_byte = 688;  // 32-bit word, its low byte; one for all modules
}  // namespace legacy_emailcfg

// The reporting settings: one byte per report choice (non-zero = chosen). LQ
// boards and ZRT modules have their own rows of bytes, mapped by the tables
// below onto the report flags of the new configuration record.
namespace legacy_reportcfg {
inline constexpr int record_size = 260;
inline constexpr char path[] = "/mnt/1/cfg/reportcfg";
}  // namespace legacy_reportcfg

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
    {28, 13}, {29, 13}, {30, 13}, {31, 13},      {32, 13}, report_always, report_always,
    {33, 13}, {34, 13}, {35, 13}, report_always, {36, 13}, {37, 13},      report_always,
    {38, 13}, {39, 13}, {40, 13}, {229, 5},      {230, 5}, {231, 5},      {232, 5},
};

// Bit i of the ZRT report flags. Bits 6 and 7 cross: bit 6 takes the later
// byte (190), bit 7 the earlier one (188); byte 189 is not used.
inline constexpr ReportFlagSource zrt_report_flags[report_flag_bits] = {
    {184, 15}, {185, 15}, {186, 15},     {187, 15}, report_always, report_always, {190, 15},
    {188, 15}, {191, 15}, report_always, {192, 15}, {193, 15},     {194, 15},     report_always,
    {195, 15}, {196, 15}, {197, 15},     {244, 5},  {245, 5},      {246, 5},      {247, 5},
};

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
}  // namespace legacy_crw

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
inline constexpr Field warning_duration{"warning duration, seconds", 14, 4, Kind::u8, 3600};
inline constexpr Field battery_warning_value{"battery warning value", 18, 4, Kind::f32};
inline constexpr Field year_span{"year span, seconds", 22, 4, Kind::u8, 31536000};
inline constexpr Field setting_12{"setting 12", 26, 4, Kind::bytes};
inline constexpr Field day_count{"day count, seconds", 30, 4, Kind::u8, 86400};
inline constexpr Field email_byte{"e-mail byte", 34, 1, Kind::u8};
inline constexpr Field reserved_35{"reserved", 35, 4, Kind::reserved};
inline constexpr Field setting_7{"setting 7", 39, 1, Kind::u8};
inline constexpr Field setting_13_zero{"setting 13 is zero", 40, 1, Kind::u8};
inline constexpr Field report_flags{"report flags", 41, 4, Kind::flags};
inline constexpr Field reserved_45{"reserved", 45, 58, Kind::reserved};
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
inline constexpr Field reserved_1{"reserved", 1, 26, Kind::reserved};
inline constexpr Field fields[] = {monitor_flags, reserved_1};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"supply configuration sub-record", record_size, fields};

// Bits of the monitor flags.
inline constexpr unsigned monitor_present_bit = 0;  // CRW word at 192 is not 0
inline constexpr unsigned monitor_off_bit = 3;      // CRW word at 240 is 0
}  // namespace supply_config_sub

// ---------------------------------------------------------------------------
// The converters, called by the port dispatches with (port 1..4, sequence
// number). Each writes the two files of its port and returns the first
// non-zero result code of its writes, else 0.

int convert_lq_config(unsigned port, unsigned sequence);
int convert_zrt_config(unsigned port, unsigned sequence);

}  // namespace sav3
