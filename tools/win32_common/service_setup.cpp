#include "win32_common/service_setup.h"

namespace kvxwin {
namespace {

bool WaitUntilRunning(SC_HANDLE service) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

}  // namespace

DWORD CreateDemandStartService(const std::string& name, DWORD type, const std::string& command,
                               bool start) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return GetLastError();
    SC_HANDLE service = CreateServiceA(
        manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, type, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    DWORD error = service ? ERROR_SUCCESS : GetLastError();
    if (service && start) {
        if (!StartServiceA(service, 0, nullptr)) {
            error = GetLastError();
        } else if (!WaitUntilRunning(service)) {
            error = ERROR_SERVICE_REQUEST_TIMEOUT;
        }
    }
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

DWORD CreateEventLogSource(const std::string& name) {
    const std::string path = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\" + name;
    HKEY key;
    const LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
    const std::string file = "%SystemRoot%\\System32\\IoLogMsg.dll";
    const DWORD types = 7;
    RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(file.c_str()),
                   static_cast<DWORD>(file.size() + 1));
    RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                   sizeof types);
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

}  // namespace kvxwin
