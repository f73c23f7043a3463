// The device inventory ("/usr/sav3/data/device") and the three port dispatches.
//
// The inventory records which module kind sits on which port; it is written
// once and read back from disk by every dispatch and by the alarm records.
#pragma once

#include <cstdint>

#include "sav3/device.h"
#include "sav3/layout.h"

namespace sav3 {

namespace inventory {
inline constexpr int record_size = 38;
inline constexpr Field port_code[5] = {
    {"port 0 type", 0, 1, Kind::u8}, {"port 1 type", 1, 1, Kind::u8}, {"port 2 type", 2, 1, Kind::u8},
    {"port 3 type", 3, 1, Kind::u8}, {"port 4 type", 4, 1, Kind::u8},
};
inline constexpr Field reserved{"reserved at 5", 5, 28, Kind::reserved};
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
// The inventory record as the legacy files give it (zero-filled `out` of
// inventory::record_size bytes), without writing it: what the room
// prediction counts the module files from.
void fill_device_inventory(Bytes out);

// ---------------------------------------------------------------------------
// The port plan: which module sits on which port, and its sequence number,
// the 1-based 8-bit running number that picks the module's legacy files
// ("_1", "_2", ...) and its slots in shared legacy records.

struct PlannedModule {
  std::uint8_t port;      // 1..4
  std::uint8_t kind;      // module_code
  std::uint8_t sequence;  // 1-based
};

struct PortPlan {
  PlannedModule modules[port_count];  // in port order
  std::uint8_t count;
  const PlannedModule* begin() const { return modules; }
  const PlannedModule* end() const { return modules + count; }
};

// The counters of one walk over the ports, one per kind of count.
struct SequenceCounters {
  std::uint8_t lq, zrt, supply, k3, fifth;
};

// A counting rule: the sequence number of the next module of `kind` (counting
// it), or 0 when such a module takes no number.
using CountingRule = std::uint8_t (*)(std::uint8_t kind, SequenceCounters& counters);

// The numbering of the port dispatches and of the alarm records: LQ boards and
// ZRT modules share one count (with an LQ board on port 1 and a ZRT module on
// port 2, the ZRT module is number 2 and reads the "_2" files); K3 modules
// have their own. Every other kind takes no number and is not converted.
std::uint8_t shared_supply_numbering(std::uint8_t kind, SequenceCounters& counters);

// The numbering of the inventory pass: every kind is counted apart, LQ boards
// and ZRT modules too (the same ZRT module is number 1 there and its option
// flag is read from "ZrtDataItemTmp_1"); the counts are the inventory's
// module counts.
std::uint8_t numbering_by_kind(std::uint8_t kind, SequenceCounters& counters);

// The modules of ports 1..4 of an inventory record, numbered by `rule`.
PortPlan plan_ports(ConstBytes inventory_record, CountingRule rule);

// The inventory as read back from disk, numbered as the dispatches number it:
// the plan that every per-module conversion follows. A missing or short
// inventory reads as zeros (no module).
PortPlan read_port_plan();

// A per-module converter, called with (port 1..4, module sequence number).
using PortConverter = int (*)(unsigned port, unsigned sequence);

// The converters of one area.
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
