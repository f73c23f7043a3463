// The history conversion shared by LQ boards and ZRT modules: record i of the
// module's report, extra report and battery report, joined with record i of
// the controller report, becomes record i of the module's history.
#pragma once

#include <cstdint>

#include "sav3/bytes.h"
#include "sav3/output_files.h"

namespace sav3 {

// The legacy records of one moment (and the board settings).
struct SupplyHistoryInputs {
  ConstBytes report;      // the module's report record i
  ConstBytes extra;       // extra report record i
  ConstBytes battery;     // battery report record i
  ConstBytes controller;  // controller report record i
  ConstBytes progcfg;     // board settings (progcfg or zrtprogcfg)
};

struct SupplyHistorySource {
  std::uint8_t module_type;
  Output history_file;      // the port file of the module kind
  const char* report_path;  // the three reports are numbered by the sequence number
  int report_size;
  const char* extra_path;
  const char* battery_path;
  const char* progcfg_path;
  // Fills the module's own fields of one history record of module n.
  void (*fill_module)(Bytes record, const SupplyHistoryInputs& in, unsigned n);
};

// Writes "/usr/sav3/history/port%d" (1000 records) and the all-zero
// "/usr/sav3/history/subport%d" of the port; returns the first non-zero result
// code of the two writes, else 0.
int convert_supply_history(unsigned port, unsigned n, const SupplyHistorySource& source);

}  // namespace sav3
