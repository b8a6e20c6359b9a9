#include "common/path_join.h"
#include "service/service_control.h"

// Deletes the service's registration as a System event-log source. A name too long for
// the key path deletes nothing: a cut path could name another service's key.
static void DeleteEventSource(const char* serviceName) {
    char keyPath[132] = "System\\CurrentControlSet\\Services\\EventLog\\System";
    if (!AppendText(keyPath, sizeof keyPath, "\\")) return;
    if (!AppendText(keyPath, sizeof keyPath, serviceName)) return;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
}

static ErrorCode DeleteOpenService(SC_HANDLE service, const char* serviceName) {
    if (!DeleteService(service)) return GetLastError();
    DeleteEventSource(serviceName);
    return ERROR_SUCCESS;
}

ErrorCode DeleteServiceAndEventSource(const char* serviceName) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return GetLastError();
    ErrorCode result = ERROR_SUCCESS;
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        result = GetLastError();
        if (result == ERROR_SERVICE_DOES_NOT_EXIST) result = ERROR_SUCCESS;
    } else {
        result = DeleteOpenService(service, serviceName);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

void StopAndDeleteService(const char* serviceName) {
    if (StopServiceTolerant(serviceName, nullptr) == ERROR_SUCCESS) {
        DeleteServiceAndEventSource(serviceName);
    }
}
