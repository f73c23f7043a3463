// The SNMP settings record "/usr/sav3/cfg/snmp" and its four legacy sources:
// the keyed agent configuration text, the trap version byte, a 50-byte record
// and the tenth line of the network text file.
#pragma once

#include <array>
#include <cstddef>

#include "sav3/layout.h"

namespace sav3 {

namespace legacy_snmp {
// One byte: the trap version.
inline constexpr char trap_version_path[] = "/mnt/1/cfg/trapvercfg";
// "KEY: value" lines, read into a 256-byte line buffer.
inline constexpr char agent_config_path[] = "/mnt/1/cfg/snmpdcfg";
inline constexpr int line_buffer_size = 256;
// Its first 32 bytes are carried over unchanged.
inline constexpr char block_path[] = "/mnt/1/cfg/snmpcfgse";
inline constexpr int block_record_size = 50;
inline constexpr std::size_t block = 0;
// The network text file (legacy_ipcfg::path): here ten reads into a 256-byte
// buffer, of which the tenth is kept.
inline constexpr int network_line = 10;
// Each list holds at most this many entries; later lines are ignored.
inline constexpr unsigned list_entries = 16;
}  // namespace legacy_snmp

namespace snmp {
inline constexpr char path[] = "/usr/sav3/cfg/snmp";
inline constexpr int record_size = 5385;
inline constexpr Field community{"community", 0, 32, Kind::secret};
inline constexpr Field block{"snmpcfgse block", 32, 32, Kind::secret};  // the write community
inline constexpr Field contact{"contact", 64, 16, Kind::text};
inline constexpr Field name{"name", 80, 16, Kind::text};
inline constexpr Field location{"location", 96, 16, Kind::text};
inline constexpr Field network_line_10{"network line 10", 112, 8, Kind::text};
inline constexpr Field inform{"inform flag", 120, 1, Kind::u8};
inline constexpr Field trap_version{"trap version", 121, 4, Kind::u32};
inline constexpr auto sec_name_first = field_array<16>("SEC_NAME first word", 125, 32, 32, Kind::text);
// The second word again, but only when it has at most 31 characters.
inline constexpr auto sec_name_short =
    field_array<16>("SEC_NAME second word, short form", 637, 32, 32, Kind::secret);
inline constexpr auto v3_usr_first = field_array<16>("V3_USR first word", 1149, 32, 32, Kind::text);
inline constexpr auto v3_usr_second = field_array<16>("V3_USR second word", 1661, 32, 32, Kind::secret);
// Slots of 64 bytes of which only the first 32 are ever filled.
inline constexpr auto addr_first = field_array<16>("Addr_snmp first word", 2173, 64, 32, Kind::text);
inline constexpr auto addr_first_spare = field_array<16>("Addr_snmp spare", 2205, 64, 32, Kind::reserved);
inline constexpr auto addr_second = field_array<16>("Addr_snmp second word", 3197, 8, 8, Kind::text);
inline constexpr Field reserved{"reserved at 3325", 3325, 1024, Kind::reserved};
// Bit n set for each stored entry n: always a run of low bits.
inline constexpr Field sec_name_mask{"SEC_NAME entry mask", 4349, 4, Kind::flags};
inline constexpr Field v3_usr_mask{"V3_USR entry mask", 4353, 4, Kind::flags};
inline constexpr Field addr_mask{"Addr_snmp entry mask", 4357, 4, Kind::flags};
inline constexpr auto sec_name_long =
    field_array<16>("SEC_NAME second word, long form", 4361, 64, 64, Kind::secret);

// Each Addr_snmp slot is its word and 32 spare bytes, in turn.
inline constexpr auto addr_slots = [] {
  std::array<Field, 2 * addr_first.size()> slots{};
  for (std::size_t i = 0; i < addr_first.size(); ++i) {
    slots[2 * i] = addr_first[i];
    slots[2 * i + 1] = addr_first_spare[i];
  }
  return slots;
}();
inline constexpr auto fields =
    join_fields(single(community), single(block), single(contact), single(name), single(location),
                single(network_line_10), single(inform), single(trap_version), sec_name_first, sec_name_short,
                v3_usr_first, v3_usr_second, addr_slots, addr_second, single(reserved), single(sec_name_mask),
                single(v3_usr_mask), single(addr_mask), sec_name_long);
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"SNMP settings", record_size, fields};
}  // namespace snmp

// Builds "/usr/sav3/cfg/snmp"; returns the write's result code.
int convert_snmp_settings();

}  // namespace sav3
