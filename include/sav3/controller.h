// The controller's own records (port 0): live record, configuration record and
// history record, and the legacy configuration records they draw on.
//
// The controller live record is also the first 31 bytes of every controller
// history record, so a current reading and a logged one read the same way; the
// range and limit block of the configuration record (bytes 356..383) has the
// arrangement of history bytes 32..59.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sav3/bytes.h"
#include "sav3/layout.h"
#include "sav3/legacy_config.h"

namespace sav3 {

// The 31-byte controller live record ("/usr/sav3/data/port0").
namespace controller_live {
inline constexpr char path[] = "/usr/sav3/data/port0";
inline constexpr int size = 31;
inline constexpr Field module_type{"module type", 0, 1, Kind::u8};
inline constexpr Field tenths{"tenths quantity", 1, 1, Kind::u8, 10};
inline constexpr Field state_flags{"state flags", 2, 1, Kind::flags};
inline constexpr unsigned active_bit = 0;    // state word "Active"
inline constexpr unsigned switch_1_bit = 1;  // first switch "ON"
inline constexpr unsigned switch_2_bit = 2;  // second switch "ON"
inline constexpr Field reading_a{"reading A", 3, 2, Kind::s16, 100};
inline constexpr Field reading_d{"reading D", 5, 2, Kind::s16, 100};
inline constexpr Field reading_e{"reading E", 7, 2, Kind::s16, 100};
inline constexpr Field reading_f{"reading F", 9, 2, Kind::s16, 100};
inline constexpr Field reading_b{"reading B", 11, 2, Kind::s16, 100};
inline constexpr Field reading_c{"reading C", 13, 2, Kind::s16, 100};
inline constexpr Field reserved_1{"reserved at 15", 15, 4, Kind::reserved};
inline constexpr Field pwm_word_1{"PWM word 1", 19, 2, Kind::u16};
inline constexpr Field pwm_word_2{"PWM word 2", 21, 2, Kind::u16};
inline constexpr Field reserved_2{"reserved at 23", 23, 4, Kind::reserved};
inline constexpr Field reading_time{"reading time", 27, 4, Kind::epoch};
inline constexpr Field fields[] = {module_type, tenths,     state_flags, reading_a,   reading_d,
                                   reading_e,   reading_f,  reading_b,   reading_c,   reserved_1,
                                   pwm_word_1,  pwm_word_2, reserved_2,  reading_time};
inline constexpr RecordLayout layout{"controller live record", size, fields};
static_assert(fields_tile(fields, size));
}  // namespace controller_live

// The 64-byte controller history record ("/usr/sav3/history/port0", 1000 of
// them): the live record of the moment, then the switch flags and a copy of
// the configured range and limits.
namespace controller_history {
inline constexpr char path[] = "/usr/sav3/history/port0";
inline constexpr int size = 64;
inline constexpr Field switch_flags{"switch flags", 31, 1, Kind::flags};
inline constexpr unsigned switch_1_bit = 0;
inline constexpr unsigned switch_2_bit = 1;
inline constexpr Field range[2] = {{"range low", 32, 2, Kind::s16, 100},
                                   {"range high", 34, 2, Kind::s16, 100}};
inline constexpr Field limit[10] = {
    {"limit 1", 36, 2, Kind::s16, 100}, {"limit 2", 38, 2, Kind::s16, 100},
    {"limit 3", 40, 2, Kind::s16, 100}, {"limit 4", 42, 2, Kind::s16, 100},
    {"limit 5", 44, 2, Kind::s16, 100}, {"limit 6", 46, 2, Kind::s16, 100},
    {"limit 7", 48, 2, Kind::s16, 100}, {"limit 8", 50, 2, Kind::s16, 100},
    {"limit 9", 56, 2, Kind::s16, 100}, {"limit 10", 58, 2, Kind::s16, 100},
};
inline constexpr Field reserved_3{"reserved at 52", 52, 4, Kind::reserved};
inline constexpr Field reserved_4{"reserved at 60", 60, 4, Kind::reserved};
inline constexpr Field fields[] = {controller_live::module_type,
                                   controller_live::tenths,
                                   controller_live::state_flags,
                                   controller_live::reading_a,
                                   controller_live::reading_d,
                                   controller_live::reading_e,
                                   controller_live::reading_f,
                                   controller_live::reading_b,
                                   controller_live::reading_c,
                                   controller_live::reserved_1,
                                   controller_live::pwm_word_1,
                                   controller_live::pwm_word_2,
                                   controller_live::reserved_2,
                                   controller_live::reading_time,
                                   switch_flags,
                                   range[0],
                                   range[1],
                                   limit[0],
                                   limit[1],
                                   limit[2],
                                   limit[3],
                                   limit[4],
                                   limit[5],
                                   limit[6],
                                   limit[7],
                                   reserved_3,
                                   limit[8],
                                   limit[9],
                                   reserved_4};
inline constexpr RecordLayout layout{"controller history record", size, fields};
static_assert(fields_tile(fields, size));
}  // namespace controller_history

// The 425-byte controller configuration record ("/usr/sav3/cfg/port0").
namespace controller_config {
inline constexpr char path[] = "/usr/sav3/cfg/port0";
inline constexpr int size = 425;
inline constexpr Field control_flags{"control flags", 0, 4, Kind::flags};
inline constexpr unsigned control_1_bit = 0;
inline constexpr unsigned control_2_bit = 1;
// Slot 0 always names the enclosure sensor; slots 1..8 come from mcuassigncfg.
inline constexpr Field name[9] = {
    {"name slot 0", 4, 32, Kind::text},   {"name slot 1", 36, 32, Kind::text},
    {"name slot 2", 68, 32, Kind::text},  {"name slot 3", 100, 32, Kind::text},
    {"name slot 4", 132, 32, Kind::text}, {"name slot 5", 164, 32, Kind::text},
    {"name slot 6", 196, 32, Kind::text}, {"name slot 7", 228, 32, Kind::text},
    {"name slot 8", 260, 32, Kind::text},
};
inline constexpr char enclosure_name[] = "Enclosure Temperature";
inline constexpr Field reserved_1{"reserved at 292", 292, 64, Kind::reserved};
inline constexpr Field range[2] = {{"range low", 356, 2, Kind::s16, 100},
                                   {"range high", 358, 2, Kind::s16, 100}};
inline constexpr Field limit[10] = {
    {"limit 1", 360, 2, Kind::s16, 100}, {"limit 2", 362, 2, Kind::s16, 100},
    {"limit 3", 364, 2, Kind::s16, 100}, {"limit 4", 366, 2, Kind::s16, 100},
    {"limit 5", 368, 2, Kind::s16, 100}, {"limit 6", 370, 2, Kind::s16, 100},
    {"limit 7", 372, 2, Kind::s16, 100}, {"limit 8", 374, 2, Kind::s16, 100},
    {"limit 9", 380, 2, Kind::s16, 100}, {"limit 10", 382, 2, Kind::s16, 100},
};
inline constexpr Field reserved_2{"reserved at 376", 376, 4, Kind::reserved};
inline constexpr Field reserved_3{"reserved at 384", 384, 4, Kind::reserved};
inline constexpr Field pwm_setting{"PWM setting", 388, 1, Kind::u8};
inline constexpr Field report_flags{"report flags", 389, 4, Kind::flags};
// Each report flag bit and the reportcfg byte that sets it when non-zero
// (byte 10 has no bit; bits 5 and 6 are always set).
struct ReportBit {
  unsigned bit;
  std::size_t source;
};
inline constexpr std::size_t always_set = static_cast<std::size_t>(-1);
inline constexpr ReportBit report_bits[] = {
    {0, 4}, {1, 7}, {2, 8}, {3, 9}, {4, 11}, {5, always_set}, {6, always_set}, {7, 5}, {8, 6},
};
constexpr bool report_bits_pick_controller_choices() {
  for (const ReportBit& b : report_bits)
    if (b.source != always_set &&
        (b.source < legacy_reportcfg::controller_choices ||
         b.source >= legacy_reportcfg::controller_choices + legacy_reportcfg::controller_choice_count))
      return false;
  return true;
}
static_assert(report_bits_pick_controller_choices());
inline constexpr Field reserved_4{"reserved at 393", 393, 32, Kind::reserved};
inline constexpr Field fields[] = {control_flags, name[0],     name[1],      name[2],    name[3],    name[4],
                                   name[5],       name[6],     name[7],      name[8],    reserved_1, range[0],
                                   range[1],      limit[0],    limit[1],     limit[2],   limit[3],   limit[4],
                                   limit[5],      limit[6],    limit[7],     reserved_2, limit[8],   limit[9],
                                   reserved_3,    pwm_setting, report_flags, reserved_4};
inline constexpr RecordLayout layout{"controller configuration record", size, fields};
static_assert(fields_tile(fields, size));
}  // namespace controller_config

// The fixed range of the controller's limits, in hundredths (-100.00..100.00).
inline constexpr std::int32_t controller_range_low = -10000;
inline constexpr std::int32_t controller_range_high = 10000;

// Fills the 31 bytes of a controller live record from one legacy controller
// record (item or report record) and the pwmcfg record.
void build_controller_live_record(Bytes record, ConstBytes controller, ConstBytes pwmcfg);

// Stores the range constants and the ten reportcfg limits (x100, signed, low
// 16 bits) into the given fields of a configuration or history record.
void put_controller_limits(Bytes record, const Field (&range)[2], const Field (&limit)[10],
                           ConstBytes reportcfg);

int convert_controller_live_data();
int convert_controller_config();
int convert_controller_history();

}  // namespace sav3
