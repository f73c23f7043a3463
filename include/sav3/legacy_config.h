// Legacy configuration records that several converters read, each named once:
// the controller, the supply modules and the settings pages of the old
// firmware all kept their choices in these few shared files.
#pragma once

#include <cstddef>

namespace sav3 {

// "/mnt/1/cfg/pwmcfg": the PWM settings of the controller.
namespace legacy_pwmcfg {
inline constexpr char path[] = "/mnt/1/cfg/pwmcfg";
inline constexpr int record_size = 44;
inline constexpr std::size_t control_1 = 0;    // uint32, non-zero: control flag bit 0
inline constexpr std::size_t control_2 = 4;    // uint32, non-zero: control flag bit 1
inline constexpr std::size_t pwm_word_1 = 8;   // uint16, copied
inline constexpr std::size_t web_word = 16;    // uint32, the web pages' PWM word
inline constexpr std::size_t setting = 24;     // uint32, low 8 bits kept
inline constexpr std::size_t pwm_word_2 = 28;  // uint16, copied
}  // namespace legacy_pwmcfg

// "/mnt/1/cfg/mcuassigncfg": 60-byte text slots naming the controller's
// inputs, then the web pages' duration and assignment block.
namespace legacy_mcuassign {
inline constexpr char path[] = "/mnt/1/cfg/mcuassigncfg";
inline constexpr int record_size = 852;
inline constexpr std::size_t first_text = 0;
inline constexpr std::size_t slot_stride = 60;  // text slot k at 60 k
inline constexpr std::size_t name_width = 32;   // only the first 32 bytes of a slot are taken
// The slot of new name slots 1..8, in new order.
inline constexpr std::size_t name_source[8] = {660, 240, 300, 540, 600, 420, 60, 120};
inline constexpr std::size_t duration_hours = 720;  // float32
inline constexpr std::size_t block = 724;
}  // namespace legacy_mcuassign

// "/mnt/1/cfg/reportcfg": the reporting settings. Besides the controller's
// limits and the web pages' words, LQ boards and ZRT modules have their own
// rows of choice bytes here (see the report flag maps of the supply records).
namespace legacy_reportcfg {
inline constexpr char path[] = "/mnt/1/cfg/reportcfg";
inline constexpr int record_size = 260;
inline constexpr std::size_t count = 100;  // int32
inline constexpr std::size_t word = 124;
inline constexpr std::size_t event_word = 128;
inline constexpr std::size_t limits = 132;  // ten float32, 132..168
// The float32 limit behind new limits 1..10, in new order.
inline constexpr std::size_t limit_source[10] = {136, 132, 160, 168, 156, 164, 144, 152, 140, 148};
inline constexpr std::size_t byte = 259;
// Rows of choice bytes, one byte per choice; the supply rows hold one row per
// module (module n at row + stride x (n - 1), n = 1, 2). The controller's
// report bits and the supply report flag maps pick single bytes out of them.
inline constexpr std::size_t controller_choices = 4;  // bytes 4..11
inline constexpr std::size_t controller_choice_count = 8;
inline constexpr std::size_t lq_choices = 28;
inline constexpr std::size_t lq_choice_stride = 13;
inline constexpr std::size_t zrt_choices = 184;
inline constexpr std::size_t zrt_choice_stride = 15;
inline constexpr std::size_t lq_choices_2 = 229;
inline constexpr std::size_t lq_choice_2_stride = 5;
inline constexpr std::size_t zrt_choices_2 = 244;
inline constexpr std::size_t zrt_choice_2_stride = 5;
}  // namespace legacy_reportcfg

// "/mnt/1/cfg/emailcfg": one record of 756 bytes, 32-bit words little-endian.
namespace legacy_emailcfg {
inline constexpr char path[] = "/mnt/1/cfg/emailcfg";
inline constexpr int record_size = 756;
inline constexpr std::size_t long_text[4] = {0, 120, 240, 360};  // 120 bytes each
inline constexpr std::size_t short_text[3] = {480, 540, 600};    // 60 bytes each
// The web pages' e-mail event switches: uint32 words, non-zero is on.
inline constexpr std::size_t event_a[7] = {660, 664, 668, 672, 676, 680, 684};
inline constexpr std::size_t event_b[8] = {724, 728, 732, 736, 740, 744, 748, 752};
inline constexpr std::size_t supply_byte = 688;           // 32-bit word, its low byte; one for all modules
inline constexpr std::size_t report_interval_code = 692;  // int32, code 1..20
inline constexpr std::size_t option_word_a = 700;         // uint32
inline constexpr std::size_t number_text = 704;           // char[12], decimal
inline constexpr std::size_t option_word_b = 716;         // uint32
}  // namespace legacy_emailcfg

// The battery warning settings: "/mnt/1/cfg/batterywarningcfg" (LQ) and
// "/mnt/1/cfg/zrtbatterywarningcfg" (ZRT), in the same layout.
namespace legacy_battery_warning {
inline constexpr int record_size = 292;
inline constexpr char lq_path[] = "/mnt/1/cfg/batterywarningcfg";
inline constexpr char zrt_path[] = "/mnt/1/cfg/zrtbatterywarningcfg";
inline constexpr std::size_t word = 4;  // the web pages' warning word
inline constexpr std::size_t block_stride = 140;
inline constexpr std::size_t year_span = 8;        // float32 years, block_stride
inline constexpr std::size_t warning_value = 20;   // float32, block_stride
inline constexpr std::size_t charge_mode = 68;     // text, "charge"; one for all LQ boards
inline constexpr std::size_t block = 88;           // the web pages' warning block
inline constexpr std::size_t warning_hours = 280;  // float32, 4 bytes apart
inline constexpr std::size_t hours_stride = 4;
inline constexpr std::size_t warning_switch = 288;  // one byte per module
inline constexpr std::size_t switch_stride = 1;
}  // namespace legacy_battery_warning

}  // namespace sav3
