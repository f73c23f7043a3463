// The alarm records: the current alarm state of the whole device
// ("/usr/sav3/data/alarm") and the alarm history ("/usr/sav3/history/alarm"),
// both rebuilt from the row of legacy alarm bytes of the controller record.
//
// The alarm state is a row of 17-byte alarm blocks (the controller's, then one
// per module port) and a few trailing fields; every alarm history record holds
// the device inventory, one alarm state of its moment and the system version.
// Most conditions are 2-bit alarm codes: 0 none, 1 the first legacy bit of the
// pair, 2 the second; when both legacy bits are set the first wins.
#pragma once

#include <cstdint>

#include "sav3/bytes.h"
#include "sav3/k3.h"
#include "sav3/layout.h"

namespace sav3 {

// The 570-byte alarm state record.
namespace alarm_state {
inline constexpr char path[] = "/usr/sav3/data/alarm";
inline constexpr int size = 570;
inline constexpr std::uint16_t block_size = 17;
inline constexpr Field controller_word{"controller alarm word", 0, 2, Kind::flags};
inline constexpr Field controller_rest{"reserved at 2", 2, 15, Kind::reserved};
// The alarm block of port p (1..4) is port_block[p - 1], at 17 x p.
inline constexpr Field port_block[4] = {
    {"port 1 alarm block", 17, 17, Kind::bytes},
    {"port 2 alarm block", 34, 17, Kind::bytes},
    {"port 3 alarm block", 51, 17, Kind::bytes},
    {"port 4 alarm block", 68, 17, Kind::bytes},
};
inline constexpr Field reserved_blocks{"reserved at 85", 85, 476, Kind::reserved};  // room for 28 more blocks
inline constexpr Field shared_flag{"shared flag", 561, 1, Kind::flags};
inline constexpr Field reserved_2{"reserved at 562", 562, 4, Kind::reserved};
inline constexpr Field state_time{"state time", 566, 4, Kind::epoch};
inline constexpr Field fields[] = {controller_word, controller_rest, port_block[0],   port_block[1],
                                   port_block[2],   port_block[3],   reserved_blocks, shared_flag,
                                   reserved_2,      state_time};
inline constexpr RecordLayout layout{"alarm state record", size, fields};
static_assert(fields_tile(fields, size));
}  // namespace alarm_state

// The controller alarm word: the low bit of each code or flag. The code at
// bit 7 straddles the two bytes (bit 7 of byte 0 is its low bit).
namespace controller_alarm {
inline constexpr unsigned code_0 = 0;    // 1: B bit 0, 2: A bit 7
inline constexpr unsigned code_2 = 2;    // 1: B bit 2, 2: B bit 1
inline constexpr unsigned flag_4 = 4;    // A bit 0
inline constexpr unsigned code_7 = 7;    // 1: A bit 2, 2: A bit 1
inline constexpr unsigned code_9 = 9;    // 1: A bit 4, 2: A bit 3
inline constexpr unsigned code_11 = 11;  // 1: A bit 6, 2: A bit 1 (A bit 1 feeds two codes)
}  // namespace controller_alarm

// The alarm block of the first or second LQ/ZRT module (offsets in the block).
namespace supply_alarm_block {
inline constexpr Field bits_0{"supply alarm bits 0", 0, 1, Kind::flags};
inline constexpr Field bits_1{"supply alarm bits 1", 1, 1, Kind::flags};
}  // namespace supply_alarm_block

// The alarm block of the first, second or third K3 module: two bytes per
// output j at 1 + 2j (offsets in the block); byte 0 is zero.
namespace k3_alarm_block {
inline constexpr auto output_bits = field_array<8>("output alarm bits", 1, 2, 1, Kind::flags);
inline constexpr auto output_code = field_array<8>("output alarm code", 2, 2, 1, Kind::flags);
inline constexpr unsigned configured_bit = 0;
}  // namespace k3_alarm_block

// Bit j of configured[k - 1]: output j of the k-th K3 module is configured
// (its int32 in the configuration record's fifth group is not 0).
struct K3ConfiguredOutputs {
  std::uint8_t configured[legacy_k3_modules];
};

// Reads the configuration record of every K3 module of the inventory that has
// legacy files (the first three, in port order); the others stay unconfigured.
K3ConfiguredOutputs read_k3_configured_outputs(ConstBytes inventory);

// Fills the 570 bytes of an alarm state record from one 248-byte controller
// record (the item record, or one record of the controller report), the
// 38-byte device inventory and the K3 configured outputs. `state` starts zero.
void build_alarm_state(Bytes state, ConstBytes controller, ConstBytes inventory,
                       const K3ConfiguredOutputs& k3);

// The 640-byte alarm history record ("/usr/sav3/history/alarm", 1000 of them).
namespace alarm_history {
inline constexpr char path[] = "/usr/sav3/history/alarm";
inline constexpr int size = 640;
inline constexpr Field inventory_copy{"device inventory", 0, 38, Kind::bytes};
inline constexpr Field state{"alarm state", 38, 570, Kind::bytes};
inline constexpr Field version{"system version", 608, 32, Kind::text};
inline constexpr Field fields[] = {inventory_copy, state, version};
inline constexpr RecordLayout layout{"alarm history record", size, fields};
static_assert(fields_tile(fields, size));
}  // namespace alarm_history

// "/mnt/2/tools/sysver": its first line (at most 31 characters) carries the
// version after a four-letter word and a blank ("Ver. 1.2.3").
namespace legacy_sysver {
inline constexpr char path[] = "/mnt/2/tools/sysver";
inline constexpr std::size_t skipped = 5;
inline constexpr std::size_t kept = 26;
}  // namespace legacy_sysver

// Fills a 32-byte version field from the first line of the version file:
// characters 6 on, up to a newline, at most 26; zeros when the file is missing.
void read_system_version(Bytes field);

int convert_alarm_state();
int convert_alarm_history();

}  // namespace sav3
