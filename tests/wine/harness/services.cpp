#include "harness/services.h"

#include <windows.h>

#include "win32_common/service_setup.h"

namespace kvxtest {

std::string ServiceKeyPath(const std::string& name) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + name;
}

std::string EventLogSourcePath(const std::string& name) {
    return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\" + name;
}

bool CreateDriverService(const std::string& name, const std::string& binary_path) {
    return kvxwin::CreateDemandStartService(name, SERVICE_KERNEL_DRIVER, binary_path, false) ==
           ERROR_SUCCESS;
}

bool CreateRunningService(const std::string& name) {
    // The fake service program is built beside the test programs.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string binary = path;
    binary = binary.substr(0, binary.find_last_of('\\') + 1) + "kvx_wine_fake_service.exe";
    return kvxwin::CreateDemandStartService(name, SERVICE_WIN32_OWN_PROCESS, "\"" + binary + "\"",
                                            true) == ERROR_SUCCESS;
}

bool WaitForServiceState(const std::string& name, unsigned long state) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (ServiceState(name) == state) return true;
        Sleep(50);
    }
    return false;
}

bool ServiceExists(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

unsigned long ServiceState(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    DWORD state = 0;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

std::vector<std::string> ListServices() {
    std::vector<std::string> names;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager) return names;
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    EnumServicesStatusA(manager, SERVICE_DRIVER | SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0,
                        &needed, &count, &resume);
    std::vector<char> buffer(needed + 1024);
    resume = 0;
    if (EnumServicesStatusA(manager, SERVICE_DRIVER | SERVICE_WIN32, SERVICE_STATE_ALL,
                            reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed, &count, &resume)) {
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) names.push_back(entries[i].lpServiceName);
    }
    CloseServiceHandle(manager);
    return names;
}

bool CreateEventLogSource(const std::string& name) {
    return kvxwin::CreateEventLogSource(name) == ERROR_SUCCESS;
}

bool EventLogSourceExists(const std::string& name) {
    return RegistryKeyExists(EventLogSourcePath(name));
}

bool RegistryKeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::vector<std::string> ListRegistrySubkeys(const std::string& path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

std::optional<std::string> ReadRegistryString(const std::string& path, const std::string& value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    char data[2048] = {};
    DWORD size = sizeof data - 1;
    const LONG status = RegQueryValueExA(key, value.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return std::string(data);
}

bool WriteRegistryString(const std::string& path, const std::string& value,
                         const std::string& data) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG status = RegSetValueExA(key, value.c_str(), 0, REG_EXPAND_SZ,
                                       reinterpret_cast<const BYTE*>(data.c_str()),
                                       static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool DeleteRegistryValue(const std::string& path, const std::string& value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG status = RegDeleteValueA(key, value.c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace kvxtest
