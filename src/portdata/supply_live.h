// The live-data conversion shared by LQ boards and ZRT modules: both read the
// same kinds of legacy files and write records of one shape; only the module's
// own fields (bytes 1 to 17 and 22 to 37 of the live record) differ.
#pragma once

#include <cstdint>

#include "sav3/bytes.h"
#include "sav3/output_files.h"

namespace sav3 {

// The legacy records of one supply module, read once per call.
struct SupplyLiveInputs {
  ConstBytes progcfg;          // board settings (progcfg or zrtprogcfg)
  ConstBytes battery_warning;  // battery warning settings
  ConstBytes controller_item;  // the controller's current readings
  ConstBytes crw;              // battery/charger monitor item record
  ConstBytes device_alarm;
  ConstBytes mcucfg;
  ConstBytes item;     // the module's own item record
  ConstBytes battery;  // the module's battery item record
};

struct SupplyLiveSource {
  std::uint8_t module_type;
  Output live_file;  // the port file of the module kind
  const char* progcfg_path;
  const char* battery_warning_path;
  const char* item_path;  // numbered by the sequence number
  int item_size;
  const char* battery_path;  // numbered by the sequence number
  // Fills the module's own fields of the live record of module n (1 or 2).
  void (*fill_module)(Bytes live, const SupplyLiveInputs& in, unsigned n);
};

// Writes "/usr/sav3/data/port%d" and "/usr/sav3/data/subport%d" of the port;
// returns the first non-zero result code of the two writes, else 0.
int convert_supply_live_data(unsigned port, unsigned n, const SupplyLiveSource& source);

}  // namespace sav3
