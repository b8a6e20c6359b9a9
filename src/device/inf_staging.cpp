#include "common/error_codes.h"
#include "entry/exports.h"
#include "entry/trace.h"

extern "C" ErrorCode WINAPI KVXSetup_CopyOemInf(LPCSTR infPath, DWORD copyStyle) {
    // Zeroed and terminated by us: after a failure the platform may leave anything here.
    char staged[256] = {};
    DWORD required = 0;
    const BOOL copied = SetupCopyOEMInfA(infPath, nullptr, SPOST_PATH, copyStyle, staged,
                                         sizeof staged, &required, nullptr);
    const DWORD error = GetLastError();
    staged[sizeof staged - 1] = '\0';
    if (!copied) staged[0] = '\0';

    char message[kTraceBufferSize];
    Trace(message, "Return from SetupCopyOEMInf: %d, err=%d, name=%s\n", copied ? 1 : 0,
          static_cast<int>(error), staged);
    if (copied) return ERROR_SUCCESS;
    return FailureResult(error);
}
