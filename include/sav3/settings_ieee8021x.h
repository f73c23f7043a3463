// The IEEE 802.1X settings record "/usr/sav3/cfg/ieee802_1x" and the legacy
// record it comes from. The legacy record was laid out with natural alignment;
// the new one holds the same fields packed: the seven fill bytes go, no value
// changes.
#pragma once

#include <cstddef>

#include "sav3/layout.h"

namespace sav3 {

// Legacy "/mnt/1/cfg/wpacfg": one record of 1252 bytes. Fill bytes at 1225 to
// 1227, 1243 and 1249 to 1251 are dropped.
namespace legacy_ieee8021x {
inline constexpr char path[] = "/mnt/1/cfg/wpacfg";
inline constexpr int record_size = 1252;
inline constexpr std::size_t text_1 = 0;
inline constexpr std::size_t option_1 = 64;
inline constexpr std::size_t text_2 = 65;
inline constexpr std::size_t option_2 = 129;
inline constexpr std::size_t texts_3_to_19 = 130;  // 17 texts of 64 bytes
inline constexpr std::size_t text_stride = 64;
inline constexpr std::size_t option_3 = 1218;
inline constexpr std::size_t option_4 = 1219;
inline constexpr std::size_t option_5 = 1220;
inline constexpr std::size_t option_group_1 = 1221;  // 3 bytes
inline constexpr std::size_t option_6 = 1224;
inline constexpr std::size_t word_group = 1228;      // after 3 fill bytes; 3 words
inline constexpr std::size_t option_group_2 = 1240;  // 3 bytes
inline constexpr std::size_t word = 1244;            // after 1 fill byte
inline constexpr std::size_t option_7 = 1248;        // 3 fill bytes follow
}  // namespace legacy_ieee8021x

namespace ieee8021x {
inline constexpr char path[] = "/usr/sav3/cfg/ieee802_1x";
inline constexpr int record_size = 1245;
inline constexpr Field text_1{"text 1", 0, 64, Kind::text};
inline constexpr Field option_1{"option 1", 64, 1, Kind::u8};
inline constexpr Field text_2{"text 2", 65, 64, Kind::text};
inline constexpr Field option_2{"option 2", 129, 1, Kind::u8};
// The authentication texts: passwords, key passphrases and shared secrets among
// them, in slots whose roles the old firmware did not fix; all shown as secrets.
inline constexpr auto texts_3_to_19 = field_array<17>("text", 130, 64, 64, Kind::secret, 1, 3);
inline constexpr Field option_3{"option 3", 1218, 1, Kind::u8};
inline constexpr Field option_4{"option 4", 1219, 1, Kind::u8};
inline constexpr Field option_5{"option 5", 1220, 1, Kind::u8};
inline constexpr Field option_group_1{"option group 1", 1221, 3, Kind::bytes};
inline constexpr Field option_6{"option 6", 1224, 1, Kind::u8};
inline constexpr auto word_group = field_array<3>("word group", 1225, 4, 4, Kind::u32);
inline constexpr Field option_group_2{"option group 2", 1237, 3, Kind::bytes};
inline constexpr Field word{"word", 1240, 4, Kind::u32};
inline constexpr Field option_7{"option 7", 1244, 1, Kind::u8};

inline constexpr auto fields =
    join_fields(single(text_1), single(option_1), single(text_2), single(option_2), texts_3_to_19,
                single(option_3), single(option_4), single(option_5), single(option_group_1),
                single(option_6), word_group, single(option_group_2), single(word), single(option_7));
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"IEEE 802.1X settings", record_size, fields};
}  // namespace ieee8021x

// Builds "/usr/sav3/cfg/ieee802_1x" from the legacy record; returns the
// write's result code.
int convert_ieee8021x_settings();

}  // namespace sav3
