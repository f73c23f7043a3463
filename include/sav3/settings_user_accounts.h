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

// One field per account entry, entry n at base + stride x n.
constexpr std::array<Field, max_accounts> entry_fields(const char* name, std::uint16_t base,
                                                       std::uint16_t width, Kind kind) {
  std::array<Field, max_accounts> out{};
  for (int n = 0; n < max_accounts; ++n)
    out[static_cast<std::size_t>(n)] = Field{name, static_cast<std::uint16_t>(base + width * n), width, kind};
  return out;
}

inline constexpr std::array<Field, max_accounts> role = entry_fields("role code", 0, 1, Kind::u8);
inline constexpr std::array<Field, max_accounts> name =
    entry_fields("account name", 16, slot_width, Kind::text);
// The second word of the account line, carried byte for byte: a secret, never
// to be printed or logged.
inline constexpr std::array<Field, max_accounts> second_word =
    entry_fields("second word", 1040, slot_width, Kind::text);
inline constexpr Field count{"account count", 2064, 1, Kind::u8};
inline constexpr Field mask{"entry mask", 2065, 4, Kind::flags};
inline constexpr Field password_level{"password level", 2069, 1, Kind::u8};

constexpr std::array<Field, 3 * max_accounts + 3> all_fields() {
  std::array<Field, 3 * max_accounts + 3> out{};
  std::size_t i = 0;
  for (const Field& f : role) out[i++] = f;
  for (const Field& f : name) out[i++] = f;
  for (const Field& f : second_word) out[i++] = f;
  out[i++] = count;
  out[i++] = mask;
  out[i++] = password_level;
  return out;
}
inline constexpr std::array<Field, 3 * max_accounts + 3> fields = all_fields();
inline constexpr RecordLayout layout{"user accounts", record_size, fields};
}  // namespace user_info

// The legacy account list: one "WS_USR : name word word role" line per account.
namespace legacy_auth {
inline constexpr char path[] = "/mnt/1/cfg/authcfg";
inline constexpr int line_buffer_size = 256;
inline constexpr char password_level_path[] = "/mnt/1/cfg/pwdlevelcfg";
inline constexpr int password_level_size = 4;
}  // namespace legacy_auth

// Converts the account list into "/usr/sav3/cfg/user_info"; returns the
// write's result code.
int convert_user_accounts();

}  // namespace sav3
