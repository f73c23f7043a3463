// The device inventory ("/usr/sav3/data/device") and the three port dispatches.
//
// The inventory records which module kind sits on which port; it is written
// once and read back from disk by every dispatch and by the alarm records.
#pragma once

#include <cstdint>

#include "sav3/layout.h"

namespace sav3 {

namespace inventory {
inline constexpr int record_size = 38;
inline constexpr Field port_code[5] = {
    {"port 0 type", 0, 1, Kind::u8}, {"port 1 type", 1, 1, Kind::u8}, {"port 2 type", 2, 1, Kind::u8},
    {"port 3 type", 3, 1, Kind::u8}, {"port 4 type", 4, 1, Kind::u8},
};
inline constexpr Field reserved{"reserved", 5, 28, Kind::reserved};
inline constexpr Field option_flag{"option flag", 33, 1, Kind::u8};
inline constexpr Field lq_count{"LQ boards", 34, 1, Kind::u8};
inline constexpr Field zrt_count{"ZRT modules", 35, 1, Kind::u8};
inline constexpr Field k3_count{"K3 modules", 36, 1, Kind::u8};
inline constexpr Field fifth_count{"fifth-kind modules", 37, 1, Kind::u8};
inline constexpr Field fields[] = {port_code[0], port_code[1], port_code[2], port_code[3],
                                   port_code[4], reserved,     option_flag,  lq_count,
                                   zrt_count,    k3_count,     fifth_count};
inline constexpr RecordLayout layout{"device inventory", record_size, fields};
}  // namespace inventory

// The legacy display record "/mnt/1/cfg/devicedisplay": five groups of three
// port slots (1..4, anything else ignored).
namespace legacy_display {
inline constexpr int record_size = 15;
inline constexpr std::size_t lq_slots = 0;
inline constexpr std::size_t fifth_slots = 3;
inline constexpr std::size_t k3_slots = 6;
inline constexpr std::size_t zrt_slots = 12;  // slots 9..11 are not used
}  // namespace legacy_display

// Builds and writes the inventory; returns the write's result code.
int build_device_inventory();

// A per-module converter, called with (port 1..4, module sequence number).
using PortConverter = int (*)(unsigned port, unsigned sequence);

// The converters of one area; an entry is null until that converter exists.
struct ModuleConverters {
  PortConverter lq;
  PortConverter zrt;
  PortConverter k3;
};

extern const ModuleConverters live_data_converters;
extern const ModuleConverters config_converters;
extern const ModuleConverters history_converters;

// Walks ports 1..4 of the inventory on disk and calls the converter of each
// port's module kind. LQ boards and ZRT modules share one sequence count, K3
// modules have their own. Returns 0 when every converter called returned 0,
// else the first failing code (the driver's gate for replacing the live trees).
int dispatch_ports(const ModuleConverters& converters);

int dispatch_live_data_ports();
int dispatch_config_ports();
int dispatch_history_ports();

}  // namespace sav3
