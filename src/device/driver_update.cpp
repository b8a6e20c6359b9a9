#include "common/error_codes.h"
#include "entry/exports.h"

extern "C" ErrorCode WINAPI KVXSetup_InstallPnpDevice(LPCSTR infPath, LPCSTR hardwareId,
                                                      BOOL force) {
    // Written as they are, unformatted: a path or ID containing '%' shows unchanged.
    OutputDebugStringA("KVXSetup_InstallPnpDevice\n");
    OutputDebugStringA(infPath);
    OutputDebugStringA("\n");
    OutputDebugStringA(hardwareId);
    OutputDebugStringA("\n");

    // Callers pass a one-byte boolean in a 32-bit slot; the upper bytes are whatever the
    // caller's stack held.
    const DWORD flags = (static_cast<DWORD>(force) & 0xFF) != 0 ? INSTALLFLAG_FORCE : 0;
    BOOL rebootNeeded = FALSE;
    if (UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId, infPath, flags, &rebootNeeded)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    return FailureResult(error);
}
