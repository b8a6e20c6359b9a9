// A real run: every call goes through, and its outcome is kept with the error the module
// itself reads afterwards.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <newdev.h>

#include <cstring>

#include "interposition/change_record.h"
#include "interposition/replacements.h"
#include "interposition/restart_notes.h"

namespace {

bool g_finish_at_restart = false;

// The outcome of a BOOL call, read before anything else can change the last error, which
// is left as the call set it for the module.
DWORD Outcome(BOOL succeeded) {
    return succeeded ? ERROR_SUCCESS : GetLastError();
}

BOOL Answer(BOOL succeeded, DWORD error) {
    SetLastError(succeeded ? ERROR_SUCCESS : error);
    return succeeded;
}

BOOL WINAPI RealControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    const BOOL done = ControlService(service, control, status);
    const DWORD error = Outcome(done);
    const std::string name = ServiceNameOf(service);
    if (control == SERVICE_CONTROL_STOP) {
        RecordChange(Change::kServiceStopped, name, error);
    } else {
        RecordChange(Change::kOther, "sent control " + std::to_string(control) + " to " + name,
                     error);
    }
    return Answer(done, error);
}

BOOL WINAPI RealDeleteService(SC_HANDLE service) {
    const BOOL done = DeleteService(service);
    const DWORD error = Outcome(done);
    const std::string name = ServiceNameOf(service);
    RecordChange(Change::kServiceDeleted, name, error);
    if (done || error == ERROR_SERVICE_MARKED_FOR_DELETE) NoteServiceDeletion(name);
    return Answer(done, error);
}

BOOL WINAPI RealCloseServiceHandle(SC_HANDLE handle) {
    const std::string name = ServiceNameOf(handle);
    const BOOL done = CloseServiceHandle(handle);
    const DWORD error = Outcome(done);
    NoteServiceHandleClosed(name);
    return Answer(done, error);
}

LONG WINAPI RealRegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD options, REGSAM access, PHKEY opened) {
    const LONG result = RegOpenKeyExA(key, subkey, options, access, opened);
    if (result != ERROR_SUCCESS) RecordSkip(KeyName(key, subkey), static_cast<DWORD>(result));
    return result;
}

LONG WINAPI RealRegDeleteKeyA(HKEY key, LPCSTR subkey) {
    const LONG result = RegDeleteKeyA(key, subkey);
    RecordChange(Change::kRegistryKeyDeleted, KeyName(key, subkey), static_cast<DWORD>(result));
    return result;
}

// In use or locked: what a restart sets free. A read-only file stays read-only after it,
// but a running image refuses deletion with the same code, so the attributes tell them
// apart.
bool FreedByRestart(const char* path, DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// A deleted file that another handle still holds stays until that handle closes: Windows
// then refuses to open it, some systems still list it.
bool StillThere(const char* path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
    return GetLastError() == ERROR_ACCESS_DENIED;
}

BOOL WINAPI RealDeleteFileA(LPCSTR path) {
    const BOOL done = DeleteFileA(path);
    const DWORD error = Outcome(done);
    const std::string shown = ShownPath(path);
    // The module may ask twice for one file; it is held back once.
    if (!done && path && DeletionHeldBack(path)) return Answer(done, error);
    if (done && StillThere(path)) {
        RecordChange(Change::kFileDeletePending, shown);
        return Answer(done, error);
    }
    if (done || !g_finish_at_restart || !path || !FreedByRestart(path, error)) {
        RecordChange(Change::kFileDeleted, shown, error);
        return Answer(done, error);
    }
    // An install may put the file back: it goes at the restart only if the run does not.
    HoldBackDeletion(path, error);
    // The module sees the deletion it asked for fail, as it did.
    return Answer(done, error);
}

HANDLE WINAPI RealCreateFileA(LPCSTR path, DWORD access, DWORD sharing,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE template_file) {
    HANDLE file = CreateFileA(path, access, sharing, security, disposition, flags, template_file);
    const DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (OpensForWriting(access, disposition)) {
        RecordChange(Change::kOther, "opened file " + ShownPath(path) + " for writing", error);
    } else if (error != ERROR_SUCCESS) {
        RecordSkip(ShownPath(path), error);
    }
    SetLastError(error);
    return file;
}

BOOL WINAPI RealCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device) {
    // Named first: once removed, the device has no properties to name it by.
    const std::string name = DeviceName(set, device);
    const BOOL done = SetupDiCallClassInstaller(function, set, device);
    const DWORD error = Outcome(done);
    if (function == DIF_REMOVE) {
        RecordChange(Change::kDeviceRemoved, name, error);
    } else {
        RecordChange(
            Change::kOther,
            "called the class installer with function " + std::to_string(function) + " on " + name,
            error);
    }
    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof params;
    if (done && SetupDiGetDeviceInstallParamsA(set, device, &params) &&
        (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART))) {
        NoteDeviceRestart(name);
    }
    return Answer(done, error);
}

BOOL WINAPI RealSetupCopyOEMInfA(PCSTR source, PCSTR media, DWORD media_type, DWORD style,
                                 PSTR destination, DWORD destination_size, PDWORD required,
                                 PSTR* component) {
    const BOOL done = SetupCopyOEMInfA(source, media, media_type, style, destination,
                                       destination_size, required, component);
    const DWORD error = Outcome(done);
    RecordChange(Change::kInfStaged, ShownPath(source), error);
    // Only a success's destination is a path: some systems leave garbage there otherwise.
    if (done && destination && destination_size > 0 &&
        memchr(destination, '\0', destination_size)) {
        NotePutBack(destination);
    }
    return Answer(done, error);
}

BOOL WINAPI RealUpdateDriver(HWND window, LPCSTR hardware_id, LPCSTR inf, DWORD flags,
                             PBOOL reboot) {
    BOOL restart = FALSE;
    const BOOL done = UpdateDriverForPlugAndPlayDevicesA(window, hardware_id, inf, flags, &restart);
    const DWORD error = Outcome(done);
    // Some systems (Wine) report an update done when the INF does not open, when no device
    // has the ID, or when the INF has no driver for it; Windows fails all three, in that
    // order, as the preview classifies them, and either way nothing was installed. The
    // module is answered as Windows would answer it.
    DWORD outcome = error;
    DWORD open_error = ERROR_SUCCESS;
    if (done && hardware_id && inf) {
        const bool listed = InfListsHardwareId(inf, hardware_id, &open_error);
        if (open_error != ERROR_SUCCESS) {
            outcome = open_error;
        } else if (!SomeDeviceHasId(hardware_id)) {
            outcome = ERROR_NO_SUCH_DEVINST;
        } else if (!listed) {
            outcome = ERROR_NO_DRIVER_SELECTED;
        }
    }
    const std::string what =
        std::string(hardware_id ? hardware_id : "") + " from " + ShownPath(inf);
    RecordChange(Change::kDriverUpdated, what, outcome);
    if (outcome == ERROR_SUCCESS && restart) NoteDeviceRestart("of " + std::string(hardware_id));
    if (outcome == ERROR_SUCCESS && g_finish_at_restart) ScheduleReplacementsFrom(inf, hardware_id);
    if (reboot) *reboot = restart;
    if (done && outcome != ERROR_SUCCESS) return Answer(FALSE, outcome);
    return Answer(done, error);
}

CONFIGRET WINAPI RealReenumerate(DEVINST device, ULONG flags) {
    const CONFIGRET result = CM_Reenumerate_DevNode(device, flags);
    RecordChange(Change::kDevicesReenumerated, "the device tree",
                 result == CR_SUCCESS ? ERROR_SUCCESS : ERROR_GEN_FAILURE);
    return result;
}

}  // namespace

std::vector<ImportReplacement> PassThroughReplacements(bool finish_at_restart) {
    g_finish_at_restart = finish_at_restart;
    return {
        {"OpenServiceA", Address(RememberOpenService)},
        {"ControlService", Address(RealControlService)},
        {"DeleteService", Address(RealDeleteService)},
        {"CloseServiceHandle", Address(RealCloseServiceHandle)},
        {"RegOpenKeyExA", Address(RealRegOpenKeyExA)},
        {"RegDeleteKeyA", Address(RealRegDeleteKeyA)},
        {"DeleteFileA", Address(RealDeleteFileA)},
        {"CreateFileA", Address(RealCreateFileA)},
        {"SetupDiCallClassInstaller", Address(RealCallClassInstaller)},
        {"SetupCopyOEMInfA", Address(RealSetupCopyOEMInfA)},
        {"UpdateDriverForPlugAndPlayDevicesA", Address(RealUpdateDriver)},
        {"CM_Reenumerate_DevNode", Address(RealReenumerate)},
    };
}
