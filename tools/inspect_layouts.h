// Copies of layouts whose headers cannot be included in the inspector's main
// unit (see inspect_supply_layouts.cpp).
#pragma once

#include "sav3/layout.h"

namespace sav3::inspect {

extern const RecordLayout supply_config_layout;
extern const RecordLayout supply_config_sub_layout;
extern const RecordLayout lq_live_layout;
extern const RecordLayout zrt_live_layout;
extern const RecordLayout supply_live_sub_layout;
extern const RecordLayout lq_history_layout;
extern const RecordLayout zrt_history_layout;

}  // namespace sav3::inspect
