// The user account record "/usr/sav3/cfg/user_info": up to 16 web accounts,
// each a role code, a name slot and a slot for the second word of its line.
#pragma once

#include <array>
#include <cstddef>

#include "sav3/layout.h"

namespace sav3 {

namespace user_info {
inline constexpr char path[] = "/usr/sav3/cfg/user_info";
inline constexpr int record_size = 2070;
inline constexpr int max_accounts = 16;
inline constexpr int slot_width = 64;

// Role codes of the new firmware.
inline constexpr std::uint8_t role_admin = 0;
inline constexpr std::uint8_t role_manager = 1;
inline constexpr std::uint8_t role_other = 2;

inline constexpr std::array<Field, max_accounts> role =
    field_array<max_accounts>("role code", 0, 1, 1, Kind::u8);
inline constexpr std::array<Field, max_accounts> name =
    field_array<max_accounts>("account name", 16, slot_width, slot_width, Kind::text);
// The second word of the account line, carried byte for byte: a secret, never
// to be printed or logged.
inline constexpr std::array<Field, max_accounts> second_word =
    field_array<max_accounts>("second word", 1040, slot_width, slot_width, Kind::secret);
inline constexpr Field count{"account count", 2064, 1, Kind::u8};
inline constexpr Field mask{"entry mask", 2065, 4, Kind::flags};
inline constexpr Field password_level{"password level", 2069, 1, Kind::u8};

inline constexpr auto fields =
    join_fields(role, name, second_word, single(count), single(mask), single(password_level));
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"user accounts", record_size, fields};
}  // namespace user_info

// The legacy account list: one "WS_USR : name word word role" line per account.
namespace legacy_auth {
inline constexpr char path[] = "/mnt/1/cfg/authcfg";
inline constexpr int line_buffer_size = 256;
inline constexpr char password_level_path[] = "/mnt/1/cfg/pwdlevelcfg";
inline constexpr int password_level_size = 4;
inline constexpr std::size_t password_level = 0;  // uint32, its low byte kept
}  // namespace legacy_auth

// Converts the account list into "/usr/sav3/cfg/user_info"; returns the
// write's result code.
int convert_user_accounts();

}  // namespace sav3
