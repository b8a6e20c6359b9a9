// Results of the module's operations: platform error codes, plus the module's own two.
#pragma once

#include "common/platform.h"

using ErrorCode = DWORD;

// A platform call failed but left no error code to pass on.
constexpr ErrorCode kFailedWithoutErrorCode = 2;

// The result for a platform call that failed with `error` as its last error: a failure
// whose last error is 0 must not read as a success to the caller.
constexpr ErrorCode FailureResult(DWORD error) {
    return error != ERROR_SUCCESS ? error : kFailedWithoutErrorCode;
}

// The install sequence was given an absent or empty INF path.
constexpr ErrorCode kBadArguments = 0xFFFFFFFFu;
