#include "common/path_join.h"
#include "service/service_access.h"
#include "service/service_control.h"

// Deletes the service's registration as a System event-log source. A name too long for
// the key path deletes nothing: a cut path could name another service's key.
static void DeleteEventSource(const char* serviceName) {
    char keyPath[132] = "System\\CurrentControlSet\\Services\\EventLog\\System";
    if (!AppendText(keyPath, sizeof keyPath, "\\")) return;
    if (!AppendText(keyPath, sizeof keyPath, serviceName)) return;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
}

static ErrorCode DeleteOpenService(SC_HANDLE service, const char* serviceName, DWORD*) {
    if (!DeleteService(service)) return FailureResult(GetLastError());
    DeleteEventSource(serviceName);
    return ERROR_SUCCESS;
}

ErrorCode DeleteServiceAndEventSource(const char* serviceName) {
    return WithServiceOpenForAllAccess(serviceName, DeleteOpenService, nullptr);
}

void StopAndDeleteService(const char* serviceName) {
    if (StopServiceTolerant(serviceName, nullptr) == ERROR_SUCCESS) {
        DeleteServiceAndEventSource(serviceName);
    }
}
