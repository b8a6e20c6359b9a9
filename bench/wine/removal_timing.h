// One timed run of the removal sequence on the machine as it is, with the costs of its
// parts measured beforehand, printed as "figure: NAME VALUE" lines for bench/wine-scaling.
#pragma once

#include "module_exports.h"

// Waits `settleMs` for the platform's own start-up work (services, device manager) to end,
// measures the parts, then times one KVXSetup_PnPRemoveKVX. False when it returned non-zero.
bool TimeRemoval(const ModuleExports& exports, DWORD settleMs);
