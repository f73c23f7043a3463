// The SSL certificate settings record "/usr/sav3/cfg/ssl" and the legacy
// certificate record it re-packs. Nothing of a certificate is parsed or
// checked: texts and blocks move byte for byte, option words shrink to bytes.
#pragma once

#include <cstddef>

#include "sav3/layout.h"

namespace sav3 {

// Legacy "/mnt/1/cfg/certificate": one record of 1500 bytes, words 32-bit
// little-endian. Bytes 32 to 99 are not used.
namespace legacy_ssl {
inline constexpr char path[] = "/mnt/1/cfg/certificate";
inline constexpr int record_size = 1500;
inline constexpr std::size_t text_1 = 0;       // 32 bytes
inline constexpr std::size_t text_2 = 100;     // 100 bytes
inline constexpr std::size_t option_1 = 200;   // uint32
inline constexpr std::size_t option_2 = 204;   // uint32
inline constexpr std::size_t option_3 = 208;   // uint32
inline constexpr std::size_t block_1 = 212;    // 128 bytes
inline constexpr std::size_t block_2 = 340;    // 128 bytes
inline constexpr std::size_t body = 468;       // 1024 bytes
inline constexpr std::size_t option_4 = 1492;  // uint32
inline constexpr std::size_t option_5 = 1496;  // uint32
}  // namespace legacy_ssl

namespace ssl {
inline constexpr char path[] = "/usr/sav3/cfg/ssl";
inline constexpr int record_size = 1445;
inline constexpr Field text_1{"certificate text 1", 0, 32, Kind::bytes};
inline constexpr Field text_2{"certificate text 2", 32, 100, Kind::bytes};
inline constexpr Field reserved{"reserved at 132", 132, 28, Kind::reserved};
inline constexpr Field option_1{"certificate option 1", 160, 1, Kind::u8};
inline constexpr Field option_2{"certificate option 2", 161, 1, Kind::u8};
inline constexpr Field option_3{"certificate option 3", 162, 1, Kind::u8};
inline constexpr Field block_1{"certificate block 1", 163, 128, Kind::bytes};
inline constexpr Field block_2{"certificate block 2", 291, 128, Kind::bytes};
inline constexpr Field body{"certificate body", 419, 1024, Kind::secret};  // may hold a private key
inline constexpr Field option_4{"certificate option 4", 1443, 1, Kind::u8};
inline constexpr Field option_5{"certificate option 5", 1444, 1, Kind::u8};
inline constexpr Field fields[] = {text_1,  text_2,  reserved, option_1, option_2, option_3,
                                   block_1, block_2, body,     option_4, option_5};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"SSL certificate settings", record_size, fields};
}  // namespace ssl

// Builds "/usr/sav3/cfg/ssl" from the legacy certificate record; returns the
// write's result code.
int convert_ssl_settings();

}  // namespace sav3
