#include "service/service_access.h"

ErrorCode WithServiceOpenForAllAccess(const char* serviceName, ServiceAction action, DWORD* note) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return FailureResult(GetLastError());
    ErrorCode result = ERROR_SUCCESS;
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            if (note != nullptr) *note = error;
        } else {
            result = FailureResult(error);
        }
    } else {
        result = action(service, serviceName, note);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}
