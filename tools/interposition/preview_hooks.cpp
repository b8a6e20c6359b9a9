// A preview: every change is held back and answered as the system would answer it, and
// the module's later reads see the machine as if the change had been made, so that the
// module takes the path it would take for real.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <map>

#include "common/case_insensitive.h"
#include "interposition/change_record.h"
#include "interposition/replacements.h"
#include "interposition/restart_notes.h"
#include "interposition/service_dependents.h"

namespace {

bool HeldBackDeletion(const char* path) {
    return path && WasRecorded(Change::kFileDeleted, ShownPath(path));
}

// A key at or below one deleted in the preview is gone.
bool KeyGone(const std::string& key) {
    for (const std::string& deleted : RecordedObjects(Change::kRegistryKeyDeleted)) {
        if (key.size() >= deleted.size() &&
            EqualsIgnoreCaseN(key.c_str(), deleted.c_str(), deleted.size()) &&
            (key.size() == deleted.size() || key[deleted.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The module may hold a handle without the right to query; the state is then read through
// a handle of our own.
bool ReadServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    if (QueryServiceStatus(service, status)) return true;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE own = OpenServiceA(manager, ServiceNameOf(service).c_str(), SERVICE_QUERY_STATUS);
    const bool read = own && QueryServiceStatus(own, status);
    const DWORD error = GetLastError();
    if (own) CloseServiceHandle(own);
    CloseServiceHandle(manager);
    SetLastError(error);
    return read;
}

SC_HANDLE WINAPI PreviewOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
    if (name && WasRecorded(Change::kServiceDeleted, name)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return RememberOpenService(manager, name, access);
}

BOOL WINAPI PreviewQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    if (!QueryServiceStatus(service, status)) return FALSE;
    if (WasRecorded(Change::kServiceStopped, ServiceNameOf(service))) {
        status->dwCurrentState = SERVICE_STOPPED;
        status->dwControlsAccepted = 0;
    }
    return TRUE;
}

// Stopping answers as the system would: a stopped service, or one stopped earlier in the
// preview, is not active; one still starting or stopping cannot take the control; one
// that does not accept it says so; one that others running depend on stays.
BOOL WINAPI PreviewControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    const std::string name = ServiceNameOf(service);
    SERVICE_STATUS now = {};
    if (!ReadServiceStatus(service, &now)) return FALSE;
    if (control != SERVICE_CONTROL_STOP) {
        RecordChange(Change::kOther, "send control " + std::to_string(control) + " to " + name);
        if (status) *status = now;
        return TRUE;
    }
    DWORD error = ERROR_SUCCESS;
    if (now.dwCurrentState == SERVICE_STOPPED || WasRecorded(Change::kServiceStopped, name)) {
        error = ERROR_SERVICE_NOT_ACTIVE;
    } else if (now.dwCurrentState == SERVICE_STOP_PENDING ||
               now.dwCurrentState == SERVICE_START_PENDING) {
        error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    } else if (!(now.dwControlsAccepted & SERVICE_ACCEPT_STOP)) {
        error = ERROR_INVALID_SERVICE_CONTROL;
    } else if (DependentRunning(name, [](const std::string& dependent) {
                   return !WasRecorded(Change::kServiceStopped, dependent);
               })) {
        error = ERROR_DEPENDENT_SERVICES_RUNNING;
    }
    RecordChange(Change::kServiceStopped, name, error);
    if (error != ERROR_SUCCESS) return Fail(error);
    now.dwCurrentState = SERVICE_STOP_PENDING;
    if (status) *status = now;
    return TRUE;
}

BOOL WINAPI PreviewDeleteService(SC_HANDLE service) {
    const std::string name = ServiceNameOf(service);
    const bool marked = WasRecorded(Change::kServiceDeleted, name) || MarkedForDeletion(name);
    const DWORD error = marked ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SUCCESS;
    RecordChange(Change::kServiceDeleted, name, error);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

LONG WINAPI PreviewRegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD options, REGSAM access,
                                 PHKEY opened) {
    if (subkey && KeyGone(KeyName(key, subkey))) return ERROR_FILE_NOT_FOUND;
    const LONG result = RegOpenKeyExA(key, subkey, options, access, opened);
    if (result != ERROR_SUCCESS) RecordSkip(KeyName(key, subkey), static_cast<DWORD>(result));
    return result;
}

// Whether a key has a subkey the preview has not deleted: Windows NT deletes only a key
// without subkeys.
bool HasSubkeyLeft(HKEY key, const std::string& path) {
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return false;
        }
        if (!KeyGone(path + "\\" + name)) return true;
    }
}

LONG WINAPI PreviewRegDeleteKeyA(HKEY key, LPCSTR subkey) {
    const std::string path = KeyName(key, subkey);
    if (KeyGone(path)) return ERROR_FILE_NOT_FOUND;
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(key, subkey, 0, KEY_READ, &opened);
    if (result == ERROR_SUCCESS) {
        if (HasSubkeyLeft(opened, path)) result = ERROR_ACCESS_DENIED;
        RegCloseKey(opened);
    }
    RecordChange(Change::kRegistryKeyDeleted, path, static_cast<DWORD>(result));
    return result;
}

DWORD WINAPI PreviewGetFileAttributesA(LPCSTR path) {
    if (HeldBackDeletion(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesA(path);
}

// Searches skip what the preview deleted; each search's folder is kept to name its finds.
std::map<HANDLE, std::string> g_search_folders;

bool FoundDeleted(HANDLE search, const WIN32_FIND_DATAA* found) {
    const auto folder = g_search_folders.find(search);
    return folder != g_search_folders.end() &&
           HeldBackDeletion((folder->second + found->cFileName).c_str());
}

HANDLE WINAPI PreviewFindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    HANDLE search = FindFirstFileA(pattern, found);
    if (search == INVALID_HANDLE_VALUE || !pattern) return search;
    const std::string text = ShownPath(pattern);
    const size_t slash = text.rfind('\\');
    g_search_folders[search] = slash == std::string::npos ? "" : text.substr(0, slash + 1);
    while (FoundDeleted(search, found)) {
        if (!FindNextFileA(search, found)) {
            const DWORD error = GetLastError();
            FindClose(search);
            g_search_folders.erase(search);
            SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
            return INVALID_HANDLE_VALUE;
        }
    }
    return search;
}

BOOL WINAPI PreviewFindNextFileA(HANDLE search, LPWIN32_FIND_DATAA found) {
    BOOL more = FindNextFileA(search, found);
    while (more && FoundDeleted(search, found)) more = FindNextFileA(search, found);
    return more;
}

BOOL WINAPI PreviewFindClose(HANDLE search) {
    g_search_folders.erase(search);
    return FindClose(search);
}

// A file others hold open with delete sharing is deleted only once they close it: an open
// that shares nothing (and deletes nothing) is refused while any such handle is there.
bool OpenElsewhere(const char* path) {
    HANDLE file =
        CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

// Deleting fails, as it would, on a file that is missing, read-only, a folder, or open
// without delete sharing: opening it for deletion (which deletes nothing) tells the last.
BOOL WINAPI PreviewDeleteFileA(LPCSTR path) {
    if (!path) return Fail(ERROR_INVALID_PARAMETER);
    if (HeldBackDeletion(path)) return Fail(ERROR_FILE_NOT_FOUND);
    const std::string shown = ShownPath(path);
    DWORD error = ERROR_SUCCESS;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
    } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        error = ERROR_ACCESS_DENIED;
    } else {
        HANDLE file =
            CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
        } else {
            CloseHandle(file);
        }
    }
    const bool pending = error == ERROR_SUCCESS && OpenElsewhere(path);
    RecordChange(pending ? Change::kFileDeletePending : Change::kFileDeleted, shown, error);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

// The module only reads files it opens; anything else would change the machine.
HANDLE WINAPI PreviewCreateFileA(LPCSTR path, DWORD access, DWORD sharing,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE template_file) {
    if (OpensForWriting(access, disposition)) {
        RecordChange(Change::kOther, "open file " + ShownPath(path) + " for writing");
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (HeldBackDeletion(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileA(path, access, sharing, security, disposition, flags, template_file);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        RecordSkip(ShownPath(path), error);
        SetLastError(error);
    }
    return file;
}

BOOL WINAPI PreviewCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device) {
    if (function == DIF_REMOVE) {
        RecordChange(Change::kDeviceRemoved, DeviceName(set, device));
    } else {
        RecordChange(Change::kOther, "call the class installer with function " +
                                         std::to_string(function) + " on " +
                                         DeviceName(set, device));
    }
    return TRUE;
}

// Staging fails as it would for a file that is missing or does not open as an INF; a
// staged INF gets no name, as none was made.
BOOL WINAPI PreviewSetupCopyOEMInfA(PCSTR source, PCSTR, DWORD, DWORD, PSTR destination,
                                    DWORD destination_size, PDWORD required, PSTR* component) {
    if (!source) return Fail(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    InfListsHardwareId(source, "", &error);
    RecordChange(Change::kInfStaged, ShownPath(source), error);
    if (error != ERROR_SUCCESS) return Fail(error);
    if (destination && destination_size > 0) destination[0] = '\0';
    if (required) *required = 1;
    if (component) *component = nullptr;
    return TRUE;
}

BOOL WINAPI PreviewUpdateDriver(HWND, LPCSTR hardware_id, LPCSTR inf, DWORD, PBOOL reboot) {
    if (!hardware_id || !inf) return Fail(ERROR_INVALID_PARAMETER);
    const std::string what = std::string(hardware_id) + " from " + ShownPath(inf);
    DWORD error = ERROR_SUCCESS;
    const bool listed = InfListsHardwareId(inf, hardware_id, &error);
    if (error == ERROR_SUCCESS && !SomeDeviceHasId(hardware_id)) {
        error = ERROR_NO_SUCH_DEVINST;
    } else if (error == ERROR_SUCCESS && !listed) {
        error = ERROR_NO_DRIVER_SELECTED;
    }
    RecordChange(Change::kDriverUpdated, what, error);
    if (error != ERROR_SUCCESS) return Fail(error);
    if (reboot) *reboot = FALSE;
    return TRUE;
}

CONFIGRET WINAPI PreviewReenumerate(DEVINST, ULONG) {
    RecordChange(Change::kDevicesReenumerated, "the device tree");
    return CR_SUCCESS;
}

}  // namespace

std::vector<ImportReplacement> PreviewReplacements() {
    return {
        {"OpenServiceA", Address(PreviewOpenService)},
        {"QueryServiceStatus", Address(PreviewQueryServiceStatus)},
        {"ControlService", Address(PreviewControlService)},
        {"DeleteService", Address(PreviewDeleteService)},
        {"RegOpenKeyExA", Address(PreviewRegOpenKeyExA)},
        {"RegDeleteKeyA", Address(PreviewRegDeleteKeyA)},
        {"GetFileAttributesA", Address(PreviewGetFileAttributesA)},
        {"FindFirstFileA", Address(PreviewFindFirstFileA)},
        {"FindNextFileA", Address(PreviewFindNextFileA)},
        {"FindClose", Address(PreviewFindClose)},
        {"DeleteFileA", Address(PreviewDeleteFileA)},
        {"CreateFileA", Address(PreviewCreateFileA)},
        {"SetupDiCallClassInstaller", Address(PreviewCallClassInstaller)},
        {"SetupCopyOEMInfA", Address(PreviewSetupCopyOEMInfA)},
        {"UpdateDriverForPlugAndPlayDevicesA", Address(PreviewUpdateDriver)},
        {"CM_Reenumerate_DevNode", Address(PreviewReenumerate)},
    };
}
