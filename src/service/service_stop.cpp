#include "common/error_codes.h"
#include "entry/exports.h"
#include "entry/trace.h"
#include "service/service_access.h"
#include "service/service_control.h"

static ErrorCode SendStopControl(SC_HANDLE service) {
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) return ERROR_SUCCESS;
    return GetLastError();
}

extern "C" ErrorCode WINAPI KVXSetup_StopService(LPCSTR serviceName) {
    char message[kTraceBufferSize];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_EXECUTE);
    if (manager == nullptr) {
        const DWORD error = GetLastError();
        Trace(message, "StopService: failed to open SCM, err=%d (%x)\n", error, error);
        return error;
    }
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_STOP);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        Trace(message, "StopService: failed to open service %s, err=%d (%x)\n", serviceName, error,
              error);
        CloseServiceHandle(manager);
        return error;
    }
    const ErrorCode result = SendStopControl(service);
    Trace(message, "StopService: ControlService returned %d (%x)\n", result, result);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

static ErrorCode StopOpenService(SC_HANDLE service, const char*, DWORD* note) {
    const ErrorCode error = SendStopControl(service);
    if (error != ERROR_SERVICE_NOT_ACTIVE) return error;
    if (note != nullptr) *note = error;
    return ERROR_SUCCESS;
}

ErrorCode StopServiceTolerant(const char* serviceName, DWORD* note) {
    if (note != nullptr) *note = 0;
    return WithServiceOpenForAllAccess(serviceName, StopOpenService, note);
}
