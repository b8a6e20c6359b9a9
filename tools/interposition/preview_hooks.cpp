#include "what_if.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <string_view>

#include "change_preview.h"
#include "common/case_insensitive.h"
#include "win32_common/import_table.h"
#include "inventory.h"
#include "win32_common/device_registry.h"

namespace {

// What the module imports that only reads the machine, or only formats and allocates.
constexpr std::string_view kReads[] = {"CloseServiceHandle",
                                       "OpenSCManagerA",
                                       "OpenServiceA",
                                       "QueryServiceStatus",
                                       "RegCloseKey",
                                       "RegOpenKeyExA",
                                       "RegQueryValueExA",
                                       "CloseHandle",
                                       "FindClose",
                                       "FindFirstFileA",
                                       "FindNextFileA",
                                       "GetLastError",
                                       "SetLastError",
                                       "GetSystemDirectoryA",
                                       "GetWindowsDirectoryA",
                                       "GetFileAttributesA",
                                       "LocalAlloc",
                                       "LocalFree",
                                       "OutputDebugStringA",
                                       "ReadFile",
                                       "_vsnprintf",
                                       "strlen",
                                       "CM_Locate_DevNodeA",
                                       "SetupDiBuildDriverInfoList",
                                       "SetupDiDestroyDeviceInfoList",
                                       "SetupDiDestroyDriverInfoList",
                                       "SetupDiEnumDeviceInfo",
                                       "SetupDiEnumDriverInfoA",
                                       "SetupDiGetClassDevsA",
                                       "SetupDiGetDeviceInstanceIdA",
                                       "SetupDiGetDeviceRegistryPropertyA",
                                       "SetupDiGetDriverInfoDetailA"};

// Service handles the module opened, with the names it opened them by: the system cannot
// name a service from its handle on Windows 2000.
std::map<SC_HANDLE, std::string> g_service_names;

std::string ServiceNameOf(SC_HANDLE service) {
    const auto found = g_service_names.find(service);
    return found == g_service_names.end() ? "(unknown service)" : found->second;
}

SC_HANDLE WINAPI RememberOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
    SC_HANDLE service = OpenServiceA(manager, name, access);
    const DWORD error = GetLastError();
    if (service && name) g_service_names[service] = name;
    SetLastError(error);
    return service;
}

// The module may hold a handle without the right to query; the state is then read through
// a handle of our own.
bool ReadServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    if (QueryServiceStatus(service, status)) return true;
    const auto found = g_service_names.find(service);
    if (found == g_service_names.end()) return false;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE own = OpenServiceA(manager, found->second.c_str(), SERVICE_QUERY_STATUS);
    const bool read = own && QueryServiceStatus(own, status);
    const DWORD error = GetLastError();
    if (own) CloseServiceHandle(own);
    CloseServiceHandle(manager);
    SetLastError(error);
    return read;
}

// Stopping answers as the system would: a stopped service, or one stopped earlier in the
// preview, is not active; one that refuses the stop control says so.
BOOL WINAPI PreviewControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    const std::string name = ServiceNameOf(service);
    SERVICE_STATUS now = {};
    if (!ReadServiceStatus(service, &now)) return FALSE;
    if (control != SERVICE_CONTROL_STOP) {
        RecordChange(Change::kOtherHeldBack,
                     "send control " + std::to_string(control) + " to service " + name);
        if (status) *status = now;
        return TRUE;
    }
    if (now.dwCurrentState == SERVICE_STOPPED || WasRecorded(Change::kServiceStopped, name)) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    if (!(now.dwControlsAccepted & SERVICE_ACCEPT_STOP)) {
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
    }
    RecordChange(Change::kServiceStopped, name);
    now.dwCurrentState = SERVICE_STOP_PENDING;
    if (status) *status = now;
    return TRUE;
}

BOOL WINAPI PreviewDeleteService(SC_HANDLE service) {
    const std::string name = ServiceNameOf(service);
    if (WasRecorded(Change::kServiceDeleted, name)) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    RecordChange(Change::kServiceDeleted, name);
    return TRUE;
}

std::string RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return "HKLM\\";
    if (key == HKEY_CURRENT_USER) return "HKCU\\";
    if (key == HKEY_CLASSES_ROOT) return "HKCR\\";
    if (key == HKEY_USERS) return "HKU\\";
    return "(an open key)\\";
}

// A key that is not there cannot be deleted; whether it is, a real open tells.
LONG WINAPI PreviewRegDeleteKeyA(HKEY key, LPCSTR subkey) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(key, subkey, 0, KEY_READ, &opened);
    if (result != ERROR_SUCCESS) return result;
    RegCloseKey(opened);
    const std::string path = RootName(key) + subkey;
    if (WasRecorded(Change::kRegistryKeyDeleted, path)) return ERROR_FILE_NOT_FOUND;
    RecordChange(Change::kRegistryKeyDeleted, path);
    return ERROR_SUCCESS;
}

// Deleting fails, as it would, on a file that is missing, read-only, a folder, or open
// without delete sharing: opening it for deletion (which deletes nothing) tells the last.
BOOL WINAPI PreviewDeleteFileA(LPCSTR path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(file);
    // Some platforms report INF paths with forward slashes; both name the same file.
    std::string shown = path;
    std::replace(shown.begin(), shown.end(), '/', '\\');
    if (WasRecorded(Change::kFileDeleted, shown)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    RecordChange(Change::kFileDeleted, shown);
    return TRUE;
}

// The module only reads files it opens; anything else would change the machine.
HANDLE WINAPI ReadOnlyCreateFileA(LPCSTR path, DWORD access, DWORD sharing,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE template_file) {
    constexpr DWORD kReadAccess = GENERIC_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES |
                                  FILE_READ_EA | READ_CONTROL | SYNCHRONIZE;
    if ((access & ~kReadAccess) != 0 || disposition != OPEN_EXISTING) {
        RecordChange(Change::kOtherHeldBack, std::string("write file ") + (path ? path : ""));
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, access, sharing, security, disposition, flags, template_file);
}

std::string InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!device || !SetupDiGetDeviceInstanceIdA(set, device, id, sizeof id, nullptr)) {
        return "(unnamed device)";
    }
    return id;
}

// The hardware ID shown is the catalogue's that the device matches, as the inventory
// shows it; for a prefix of the caller's own, the device's first hardware ID.
std::string RemovedDevice(HDEVINFO set, SP_DEVINFO_DATA* device) {
    const std::string instance = InstanceIdOf(set, device);
    const auto ids = device ? kvxwin::ReadDeviceStrings(set, device, SPDRP_HARDWAREID)
                            : std::vector<std::string>();
    const char* matched = CatalogueIdMatching(ids);
    if (matched) return instance + ", matching " + matched;
    return ids.empty() ? instance : instance + ", hardware ID " + ids.front();
}

BOOL WINAPI PreviewCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device) {
    if (function == DIF_REMOVE) {
        RecordChange(Change::kDeviceRemoved, RemovedDevice(set, device));
    } else {
        RecordChange(Change::kOtherHeldBack, "call the class installer with function " +
                                                 std::to_string(function) + " on " +
                                                 InstanceIdOf(set, device));
    }
    return TRUE;
}

// Staging a missing INF fails as it would; a staged INF gets no name, as none was made.
BOOL WINAPI PreviewSetupCopyOEMInfA(PCSTR source, PCSTR, DWORD, DWORD, PSTR destination,
                                    DWORD destination_size, PDWORD required, PSTR* component) {
    if (!source || GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES) {
        if (!source) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (destination && destination_size > 0) destination[0] = '\0';
    if (required) *required = 1;
    if (component) *component = nullptr;
    RecordChange(Change::kInfStaged, source);
    return TRUE;
}

bool HasId(const std::vector<std::string>& ids, const char* wanted) {
    return std::any_of(ids.begin(), ids.end(), [wanted](const std::string& id) {
        return EqualsIgnoreCase(id.c_str(), wanted);
    });
}

// Windows updates the present devices with the ID among their hardware or compatible IDs,
// and fails when there is none; a device removed earlier in the preview counts as gone.
bool SomeDeviceHasId(const char* hardware_id) {
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (HasId(kvxwin::ReadDeviceStrings(set, &device, SPDRP_HARDWAREID), hardware_id) ||
            HasId(kvxwin::ReadDeviceStrings(set, &device, SPDRP_COMPATIBLEIDS), hardware_id)) {
            found = !WasRecorded(Change::kDeviceRemoved, RemovedDevice(set, &device));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

BOOL WINAPI PreviewUpdateDriver(HWND, LPCSTR hardware_id, LPCSTR inf, DWORD, PBOOL reboot) {
    if (!hardware_id || !inf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (GetFileAttributesA(inf) == INVALID_FILE_ATTRIBUTES) return FALSE;
    if (!SomeDeviceHasId(hardware_id)) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    RecordChange(Change::kDriverUpdated, std::string(hardware_id) + " from " + inf);
    if (reboot) *reboot = FALSE;
    return TRUE;
}

CONFIGRET WINAPI PreviewReenumerate(DEVINST, ULONG) {
    RecordChange(Change::kDevicesReenumerated, "the device tree");
    return CR_SUCCESS;
}

template <typename Function>
FARPROC Address(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace

DWORD HoldBackChanges(HMODULE module, std::string* problem) {
    const ImportReplacement replacements[] = {
        {"OpenServiceA", Address(RememberOpenService)},
        {"ControlService", Address(PreviewControlService)},
        {"DeleteService", Address(PreviewDeleteService)},
        {"RegDeleteKeyA", Address(PreviewRegDeleteKeyA)},
        {"DeleteFileA", Address(PreviewDeleteFileA)},
        {"CreateFileA", Address(ReadOnlyCreateFileA)},
        {"SetupDiCallClassInstaller", Address(PreviewCallClassInstaller)},
        {"SetupCopyOEMInfA", Address(PreviewSetupCopyOEMInfA)},
        {"UpdateDriverForPlugAndPlayDevicesA", Address(PreviewUpdateDriver)},
        {"CM_Reenumerate_DevNode", Address(PreviewReenumerate)},
    };
    std::vector<std::string> imported;
    if (!ListImportedNames(module, &imported)) {
        *problem = "the module's imports have no name table";
        return ERROR_NOT_SUPPORTED;
    }
    for (const std::string& name : imported) {
        const bool replaced =
            std::any_of(std::begin(replacements), std::end(replacements),
                        [&](const ImportReplacement& r) { return name == r.name; });
        if (!replaced &&
            std::find(std::begin(kReads), std::end(kReads), name) == std::end(kReads)) {
            *problem =
                "the module imports " + name + ", whose changes the preview cannot hold back";
            return ERROR_NOT_SUPPORTED;
        }
    }
    return ReplaceImports(module, replacements);
}
