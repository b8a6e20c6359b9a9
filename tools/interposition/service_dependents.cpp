#include "interposition/service_dependents.h"

#include <vector>

#include "common/case_insensitive.h"

namespace {

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

std::vector<std::string> ListedDependents(SC_HANDLE service) {
    std::vector<std::string> names;
    std::vector<BYTE> buffer(4096);
    for (int tries = 0; tries < 4; ++tries) {
        DWORD needed = 0;
        DWORD count = 0;
        auto* found = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
        if (EnumDependentServicesA(service, SERVICE_ACTIVE, found,
                                   static_cast<DWORD>(buffer.size()), &needed, &count)) {
            for (DWORD i = 0; i < count; ++i) {
                if (found[i].lpServiceName) names.push_back(found[i].lpServiceName);
            }
            break;
        }
        if (GetLastError() != ERROR_MORE_DATA || needed <= buffer.size()) break;
        buffer.resize(needed);
    }
    return names;
}

// The names in a multi-string, bounded by its size, not by terminators alone.
bool MultiStringHas(const std::vector<char>& data, DWORD size, const std::string& wanted) {
    for (DWORD at = 0; at < size && data[at];) {
        const std::string entry(&data[at]);
        if (EqualsIgnoreCase(entry.c_str(), wanted.c_str())) return true;
        at += static_cast<DWORD>(entry.size()) + 1;
    }
    return false;
}

bool DependsOn(HKEY services, const char* service, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(services, service, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    std::vector<char> data(4096 + 2, '\0');
    DWORD size = 4096;
    DWORD type = 0;
    const bool read =
        RegQueryValueExA(key, "DependOnService", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read && type == REG_MULTI_SZ && MultiStringHas(data, size, name);
}

std::vector<std::string> RegisteredDependents(const std::string& name) {
    std::vector<std::string> names;
    HKEY services = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, &services) != ERROR_SUCCESS) {
        return names;
    }
    char service[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof service;
        if (RegEnumKeyExA(services, index, service, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        if (DependsOn(services, service, name)) names.push_back(service);
    }
    RegCloseKey(services);
    return names;
}

bool Runs(SC_HANDLE manager, const std::string& name) {
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    const bool runs =
        service && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
    if (service) CloseServiceHandle(service);
    return runs;
}

}  // namespace

bool DependentRunning(const std::string& name,
                      const std::function<bool(const std::string&)>& counts) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ENUMERATE_DEPENDENTS);
    std::vector<std::string> dependents;
    if (service) {
        dependents = ListedDependents(service);
        CloseServiceHandle(service);
    }
    for (const std::string& registered : RegisteredDependents(name)) {
        dependents.push_back(registered);
    }
    bool running = false;
    for (const std::string& dependent : dependents) {
        if (!running && counts(dependent) && Runs(manager, dependent)) running = true;
    }
    CloseServiceHandle(manager);
    return running;
}
