// The per-module converters of each area, called by the port dispatches.
#include "sav3/inventory.h"
#include "sav3/k3.h"
#include "sav3/lq_zrt.h"

namespace sav3 {

const ModuleConverters live_data_converters = {
    .lq = convert_lq_live_data,
    .zrt = convert_zrt_live_data,
    .k3 = convert_k3_live_data,
};

const ModuleConverters config_converters = {
    .lq = convert_lq_config,
    .zrt = convert_zrt_config,
    .k3 = convert_k3_config,
};

const ModuleConverters history_converters = {
    .lq = convert_lq_history,
    .zrt = convert_zrt_history,
    .k3 = convert_k3_history,
};

}  // namespace sav3
