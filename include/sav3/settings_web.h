// The web access settings record "/usr/sav3/cfg/web" and the seven legacy
// records of the old web pages it is assembled from.
#pragma once

#include <cstddef>

#include "sav3/layout.h"
#include "sav3/legacy_config.h"

namespace sav3 {

namespace web {
inline constexpr char path[] = "/usr/sav3/cfg/web";
inline constexpr int record_size = 241;

inline constexpr Field reserved_0{"reserved at 0", 0, 4, Kind::reserved};
inline constexpr Field assignment_block{"assignment block", 4, 64, Kind::bytes};
inline constexpr Field assignment_text{"first assignment text", 68, 60, Kind::bytes};
inline constexpr Field reserved_128{"reserved at 128", 128, 4, Kind::reserved};
inline constexpr Field battery_warning_block{"battery warning block", 132, 50, Kind::bytes};
inline constexpr Field reserved_182{"reserved at 182", 182, 14, Kind::reserved};
inline constexpr Field duration{"duration", 196, 4, Kind::s32, 3600};
inline constexpr Field lock_word{"lock word", 200, 4, Kind::u32};
inline constexpr Field pwm_word{"PWM word", 204, 4, Kind::u32};
inline constexpr Field reserved_208{"reserved at 208", 208, 4, Kind::reserved};
inline constexpr Field battery_warning_word{"battery warning word", 212, 4, Kind::u32};
inline constexpr Field event_bits1{"e-mail event bits 1", 216, 1, Kind::flags};
inline constexpr Field event_bits2{"e-mail event bits 2", 217, 1, Kind::flags};
inline constexpr Field event_bits3{"e-mail event bits 3", 218, 1, Kind::flags};
inline constexpr Field capped_count{"capped count", 219, 4, Kind::s32};
inline constexpr Field report_interval{"report interval, seconds", 223, 4, Kind::u32};
inline constexpr Field remember_user{"remember user", 227, 1, Kind::u8};
inline constexpr Field report_word{"report word", 228, 4, Kind::u32};
inline constexpr Field report_byte{"report byte", 232, 1, Kind::u8};
inline constexpr Field reserved_233{"reserved at 233", 233, 8, Kind::reserved};

inline constexpr Field fields[] = {
    reserved_0,           assignment_block, assignment_text, reserved_128, battery_warning_block,
    reserved_182,         duration,         lock_word,       pwm_word,     reserved_208,
    battery_warning_word, event_bits1,      event_bits2,     event_bits3,  capped_count,
    report_interval,      remember_user,    report_word,     report_byte,  reserved_233};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"web access settings", record_size, fields};

// The count is kept at most this large.
inline constexpr std::int32_t count_cap = 1000;
}  // namespace web

namespace legacy_lock {
inline constexpr char path[] = "/mnt/1/cfg/lockcfg";
inline constexpr int record_size = 108;
inline constexpr std::size_t word = 104;
}  // namespace legacy_lock

namespace legacy_remember_user {
inline constexpr char path[] = "/mnt/1/cfg/rememberusrcfg";
inline constexpr int record_size = 4;
inline constexpr std::size_t word = 0;  // uint32, its low byte kept
}  // namespace legacy_remember_user

// Assembles "/usr/sav3/cfg/web"; returns the write's result code.
int convert_web_settings();

}  // namespace sav3
