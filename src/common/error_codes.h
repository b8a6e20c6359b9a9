// Results of the module's operations: platform error codes, plus the module's own two.
#pragma once

#include "common/platform.h"

using ErrorCode = DWORD;

// A platform call failed but left no error code to pass on.
constexpr ErrorCode kFailedWithoutErrorCode = 2;

// The install sequence was given an absent or empty INF path.
constexpr ErrorCode kBadArguments = 0xFFFFFFFFu;
