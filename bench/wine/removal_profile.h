// Where the removal's time goes: every trace line timestamped as it is written, and the
// time before each line put down to the step that the line ends.
#pragma once

#include "module_exports.h"

// Waits `settleMs`, then runs KVXSetup_PnPRemoveKVX once with its trace caught in-process,
// and prints the time of each kind of step as "figure: profile_KIND_ms VALUE" lines and
// the longest single steps as "step:" lines. Catching the trace makes each line cheaper
// than a write no one catches, so the total is a little below a timed run's. False when
// the removal returned non-zero.
bool ProfileRemoval(const ModuleExports& exports, DWORD settleMs);
