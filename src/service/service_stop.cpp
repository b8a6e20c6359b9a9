#include "common/error_codes.h"
#include "entry/exports.h"
#include "entry/trace.h"
#include "service/service_access.h"
#include "service/service_control.h"

// Whether the service took the stop control; *error is the platform's error when it did
// not, which may be 0.
static bool SendStopControl(SC_HANDLE service, DWORD* error) {
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        *error = ERROR_SUCCESS;
        return true;
    }
    *error = GetLastError();
    return false;
}

extern "C" ErrorCode WINAPI KVXSetup_StopService(LPCSTR serviceName) {
    char message[kTraceBufferSize];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_EXECUTE);
    if (manager == nullptr) {
        const DWORD error = GetLastError();
        Trace(message, "StopService: failed to open SCM, err=%d (%x)\n", static_cast<int>(error),
              static_cast<unsigned>(error));
        return FailureResult(error);
    }
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_STOP);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        Trace(message, "StopService: failed to open service %s, err=%d (%x)\n", serviceName,
              static_cast<int>(error), static_cast<unsigned>(error));
        CloseServiceHandle(manager);
        return FailureResult(error);
    }
    DWORD error = ERROR_SUCCESS;
    const bool stopped = SendStopControl(service, &error);
    // The line shows what the platform said, even a refusal without an error code.
    Trace(message, "StopService: ControlService returned %d (%x)\n", static_cast<int>(error),
          static_cast<unsigned>(error));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return stopped ? ERROR_SUCCESS : FailureResult(error);
}

static ErrorCode StopOpenService(SC_HANDLE service, const char*, DWORD* note) {
    DWORD error = ERROR_SUCCESS;
    if (SendStopControl(service, &error)) return ERROR_SUCCESS;
    if (error != ERROR_SERVICE_NOT_ACTIVE) return FailureResult(error);
    if (note != nullptr) *note = error;
    return ERROR_SUCCESS;
}

ErrorCode StopServiceTolerant(const char* serviceName, DWORD* note) {
    if (note != nullptr) *note = 0;
    return WithServiceOpenForAllAccess(serviceName, StopOpenService, note);
}
