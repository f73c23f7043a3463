// The e-mail and report settings record "/usr/sav3/cfg/email" and the legacy
// e-mail configuration it is built from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sav3/layout.h"
#include "sav3/legacy_config.h"

namespace sav3 {

// New e-mail settings record: packed, so the number sits at an odd offset.
// The long texts, first in the legacy record, come last here, and option byte
// B precedes the number while option byte A follows it.
namespace email {
inline constexpr char path[] = "/usr/sav3/cfg/email";
inline constexpr int record_size = 456;
inline constexpr Field short_text_1{"short text 1", 0, 60, Kind::text};
inline constexpr Field reserved_1{"reserved at 60", 60, 4, Kind::reserved};
inline constexpr Field short_text_2{"short text 2", 64, 60, Kind::secret};  // the mail server password
inline constexpr Field reserved_2{"reserved at 124", 124, 4, Kind::reserved};
inline constexpr Field short_text_3{"short text 3", 128, 60, Kind::text};
inline constexpr Field reserved_3{"reserved at 188", 188, 4, Kind::reserved};
inline constexpr Field option_b{"option byte B", 192, 1, Kind::u8};
inline constexpr Field number{"number", 193, 2, Kind::u16};
inline constexpr Field option_a{"option byte A", 195, 1, Kind::u8};
inline constexpr Field report_interval{"report interval, seconds", 196, 4, Kind::u32};
inline constexpr Field long_text_1{"long text 1", 200, 64, Kind::text};
inline constexpr Field long_text_2{"long text 2", 264, 64, Kind::text};
inline constexpr Field long_text_3{"long text 3", 328, 64, Kind::text};
inline constexpr Field long_text_4{"long text 4", 392, 64, Kind::text};
inline constexpr Field fields[] = {short_text_1, reserved_1,  short_text_2, reserved_2, short_text_3,
                                   reserved_3,   option_b,    number,       option_a,   report_interval,
                                   long_text_1,  long_text_2, long_text_3,  long_text_4};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"e-mail settings", record_size, fields};
}  // namespace email

// Builds "/usr/sav3/cfg/email" from the legacy e-mail configuration; returns
// the write's result code.
int convert_email_settings();

}  // namespace sav3
