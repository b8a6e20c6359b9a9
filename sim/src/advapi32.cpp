// advapi32 on the stand-in machine: the service control manager and the registry under
// HKEY_LOCAL_MACHINE.
#include "machine_state.h"

#include <algorithm>

using namespace kvxsim;
using namespace kvxsim::detail;

namespace {

std::lock_guard<std::mutex> Locked() {
    return std::lock_guard<std::mutex>(MachineLock());
}

// What a service handle's generic rights come to, as the SCM maps them.
DWORD MapServiceAccess(DWORD access) {
    DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) {
        mapped |= STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                  SERVICE_INTERROGATE | SERVICE_ENUMERATE_DEPENDENTS;
    }
    if (access & GENERIC_WRITE) mapped |= STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE) {
        mapped |= STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    }
    if (access & GENERIC_ALL) mapped |= SERVICE_ALL_ACCESS;
    return mapped;
}

Service* ServiceOf(const HandleRecord& handle) {
    auto& services = TheMachine().services;
    const auto it = services.find(Upper(handle.target));
    return it == services.end() ? nullptr : &it->second;
}

std::string ServiceName(SC_HANDLE handle) {
    const HandleRecord* record = FindHandle(handle, HandleKind::kService);
    return record ? record->target : std::string();
}

void FillStatus(const Service& service, LPSERVICE_STATUS status) {
    if (!status) return;
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_KERNEL_DRIVER;
    status->dwCurrentState = service.state;
    status->dwControlsAccepted = service.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
}

// The path below HKEY_LOCAL_MACHINE that a key handle stands for; nullopt for a handle that
// is not a key of this machine.
std::optional<std::string> KeyPathOf(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return std::string();
    const HandleRecord* record = FindHandle(key, HandleKind::kKey);
    if (!record) return std::nullopt;
    return record->target;
}

std::string SubkeyPath(const std::string& base, const char* subkey) {
    const std::string sub(TrimTrailingBackslashes(Str(subkey)));
    if (base.empty()) return sub;
    if (sub.empty()) return base;
    return base + "\\" + sub;
}

// The key's own spelling when it exists, for the journal.
std::string Spelled(const std::string& path) {
    const auto& keys = TheMachine().keys;
    const auto it = keys.find(Upper(path));
    return it == keys.end() ? path : it->second.path;
}

}  // namespace

namespace kvxsim::detail {

void ReapService(const std::string& key) {
    auto& services = TheMachine().services;
    const auto it = services.find(key);
    if (it == services.end()) return;
    const Service& service = it->second;
    if (!service.markedForDeletion || service.state != SERVICE_STOPPED || service.openHandles > 0) {
        return;
    }
    // The SCM takes the service's own key with it.
    DeleteKeyTree("SYSTEM\\CurrentControlSet\\Services\\" + service.name);
    services.erase(it);
}

void CreateKey(std::string_view path) {
    std::string_view rest = TrimTrailingBackslashes(path);
    auto& keys = TheMachine().keys;
    while (!rest.empty()) {
        const std::string key = Upper(rest);
        if (!keys.count(key)) keys[key].path = std::string(rest);
        const size_t slash = rest.rfind('\\');
        if (slash == std::string_view::npos) break;
        rest = rest.substr(0, slash);
    }
}

bool HasSubkeys(std::string_view path) {
    const std::string prefix = Upper(TrimTrailingBackslashes(path)) + "\\";
    const auto& keys = TheMachine().keys;
    const auto it = keys.lower_bound(prefix);
    return it != keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void DeleteKeyTree(std::string_view path) {
    const std::string key = Upper(TrimTrailingBackslashes(path));
    auto& keys = TheMachine().keys;
    keys.erase(key);
    const std::string prefix = key + "\\";
    for (auto it = keys.lower_bound(prefix);
         it != keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
        it = keys.erase(it);
    }
}

}  // namespace kvxsim::detail

extern "C" {

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                DWORD dwDesiredAccess) {
    auto lock = Locked();
    if (const auto error = Enter("OpenSCManagerA",
                                 {Str(lpMachineName), Str(lpDatabaseName), Hex(dwDesiredAccess)})) {
        SetThreadLastError(*error);
        return nullptr;
    }
    HandleRecord record{HandleKind::kScm};
    record.access = dwDesiredAccess;
    return ToHandle<SC_HANDLE>(NewHandle(std::move(record)));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    auto lock = Locked();
    const std::string name = Str(lpServiceName);
    if (const auto error = Enter("OpenServiceA", {name, Hex(dwDesiredAccess)})) {
        SetThreadLastError(*error);
        return nullptr;
    }
    if (!FindHandle(hSCManager, HandleKind::kScm)) {
        SetThreadLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!lpServiceName) {
        SetThreadLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& services = TheMachine().services;
    const auto it = services.find(Upper(name));
    if (it == services.end()) {
        SetThreadLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    ++it->second.openHandles;
    HandleRecord record{HandleKind::kService};
    record.target = name;  // as opened, for the journal
    record.access = MapServiceAccess(dwDesiredAccess);
    return ToHandle<SC_HANDLE>(NewHandle(std::move(record)));
}

static bool AnyRunning(const std::vector<std::string>& names) {
    const auto& services = TheMachine().services;
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        const auto found = services.find(Upper(name));
        return found != services.end() && found->second.state != SERVICE_STOPPED;
    });
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    auto lock = Locked();
    if (const auto error = Enter("ControlService", {ServiceName(hService), Hex(dwControl)})) {
        return FailWith(*error);
    }
    HandleRecord* handle = FindHandle(hService, HandleKind::kService);
    Service* service = handle ? ServiceOf(*handle) : nullptr;
    if (!service) return FailWith(ERROR_INVALID_HANDLE);
    if (!lpServiceStatus) return FailWith(ERROR_INVALID_PARAMETER);
    switch (dwControl) {
        case SERVICE_CONTROL_STOP:
            if (!(handle->access & SERVICE_STOP)) return FailWith(ERROR_ACCESS_DENIED);
            if (service->state == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE);
            if (service->state == SERVICE_STOP_PENDING) {
                return FailWith(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
            }
            if (service->stopError) return FailWith(service->stopError);
            if (AnyRunning(service->dependents)) {
                return FailWith(ERROR_DEPENDENT_SERVICES_RUNNING);
            }
            service->state = service->stopsSlowly ? SERVICE_STOP_PENDING : SERVICE_STOPPED;
            service->running = service->stopsSlowly;
            FillStatus(*service, lpServiceStatus);
            return TRUE;
        case SERVICE_CONTROL_INTERROGATE:
            if (!(handle->access & SERVICE_INTERROGATE)) return FailWith(ERROR_ACCESS_DENIED);
            if (service->state == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE);
            FillStatus(*service, lpServiceStatus);
            return TRUE;
        default:
            if (!(handle->access & (SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL))) {
                return FailWith(ERROR_ACCESS_DENIED);
            }
            if (service->state == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE);
            return FailWith(ERROR_INVALID_SERVICE_CONTROL);
    }
}

BOOL WINAPI DeleteService(SC_HANDLE hService) {
    auto lock = Locked();
    if (const auto error = Enter("DeleteService", {ServiceName(hService)})) {
        return FailWith(*error);
    }
    HandleRecord* handle = FindHandle(hService, HandleKind::kService);
    Service* service = handle ? ServiceOf(*handle) : nullptr;
    if (!service) return FailWith(ERROR_INVALID_HANDLE);
    if (!(handle->access & DELETE)) return FailWith(ERROR_ACCESS_DENIED);
    if (service->markedForDeletion) return FailWith(ERROR_SERVICE_MARKED_FOR_DELETE);
    // Only marked: the service goes once it is stopped and its last handle is closed.
    service->markedForDeletion = true;
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    auto lock = Locked();
    const bool isService = FindHandle(hSCObject, HandleKind::kService) != nullptr;
    if (const auto error =
            Enter("CloseServiceHandle", {isService ? ServiceName(hSCObject) : std::string()})) {
        return FailWith(*error);
    }
    Machine& m = TheMachine();
    const auto value = reinterpret_cast<uintptr_t>(hSCObject);
    if (isService) {
        const std::string key = Upper(m.handles.at(value).target);
        m.handles.erase(value);
        if (const auto it = m.services.find(key); it != m.services.end()) {
            --it->second.openHandles;
            ReapService(key);
        }
        return TRUE;
    }
    if (!FindHandle(hSCObject, HandleKind::kScm)) return FailWith(ERROR_INVALID_HANDLE);
    m.handles.erase(value);
    return TRUE;
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    auto lock = Locked();
    (void)ulOptions;
    const auto base = KeyPathOf(hKey);
    const std::string path = SubkeyPath(base.value_or(std::string()), lpSubKey);
    if (const auto error = Enter("RegOpenKeyExA", {Spelled(path), Hex(samDesired)})) {
        if (phkResult) *phkResult = nullptr;
        return static_cast<LONG>(*error);
    }
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (!base) return ERROR_INVALID_HANDLE;
    if (lpSubKey && lpSubKey[0] == '\\') return ERROR_BAD_PATHNAME;
    if (!path.empty() && !TheMachine().keys.count(Upper(path))) return ERROR_FILE_NOT_FOUND;
    HandleRecord record{HandleKind::kKey};
    record.target = Upper(path);
    record.access = samDesired;
    *phkResult = ToHandle<HKEY>(NewHandle(std::move(record)));
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    auto lock = Locked();
    const auto path = KeyPathOf(hKey);
    if (const auto error =
            Enter("RegQueryValueExA", {Spelled(path.value_or(std::string())), Str(lpValueName),
                                       Hex(lpcbData ? *lpcbData : 0)})) {
        return static_cast<LONG>(*error);
    }
    if (!path) return ERROR_INVALID_HANDLE;
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    const auto& keys = TheMachine().keys;
    const auto key = keys.find(*path);
    if (key == keys.end()) return path->empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    const auto value = key->second.values.find(Upper(Str(lpValueName)));
    if (value == key->second.values.end()) return ERROR_FILE_NOT_FOUND;
    const RegistryValue& found = value->second.second;
    const DWORD size = static_cast<DWORD>(found.data.size());
    if (lpType) *lpType = found.type;
    if (!lpData) {
        if (lpcbData) *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    memcpy(lpData, found.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    auto lock = Locked();
    const auto path = KeyPathOf(hKey);
    if (const auto error = Enter("RegCloseKey", {Spelled(path.value_or(std::string()))})) {
        return static_cast<LONG>(*error);
    }
    if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    if (!path) return ERROR_INVALID_HANDLE;
    TheMachine().handles.erase(reinterpret_cast<uintptr_t>(hKey));
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    auto lock = Locked();
    const auto base = KeyPathOf(hKey);
    const std::string path = SubkeyPath(base.value_or(std::string()), lpSubKey);
    if (const auto error = Enter("RegDeleteKeyA", {Spelled(path)})) {
        return static_cast<LONG>(*error);
    }
    if (!base) return ERROR_INVALID_HANDLE;
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    if (path.empty()) return ERROR_ACCESS_DENIED;
    if (!TheMachine().keys.count(Upper(path))) return ERROR_FILE_NOT_FOUND;
    if (HasSubkeys(path)) return ERROR_ACCESS_DENIED;
    TheMachine().keys.erase(Upper(path));
    return ERROR_SUCCESS;
}

}  // extern "C"
