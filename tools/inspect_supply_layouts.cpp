// The supply module layouts, kept in a unit of their own: their header cannot
// yet be included beside the controller's and the web settings' headers (both
// also declare legacy record names that it declares).
#include "inspect_layouts.h"
#include "sav3/lq_zrt.h"

namespace sav3::inspect {

const RecordLayout supply_config_layout = supply_config::layout;
const RecordLayout supply_config_sub_layout = supply_config_sub::layout;
const RecordLayout lq_live_layout = lq_live::layout;
const RecordLayout zrt_live_layout = zrt_live::layout;
const RecordLayout supply_live_sub_layout = supply_live_sub::layout;
const RecordLayout lq_history_layout = lq_history::layout;
const RecordLayout zrt_history_layout = zrt_history::layout;

}  // namespace sav3::inspect
