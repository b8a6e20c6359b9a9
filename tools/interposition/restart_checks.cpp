#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <set>

#include "interposition/case_order.h"
#include "interposition/catalogue_ids.h"
#include "interposition/change_record.h"
#include "interposition/machine_changes.h"
#include "interposition/restart_notes.h"
#include "win32_common/device_registry.h"

namespace {

std::set<std::string, LessIgnoreCase> g_deleted_services;
std::set<std::string, LessIgnoreCase> g_devices_needing_restart;

// A service the module deleted that the system still knows once the module let go of it is
// marked for deletion: some process holds it, or it still runs. Some systems record no mark
// in the service's key. Asked when the module closes its handle, since a later install may
// create a service of the same name again.
bool StillRegistered(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    const DWORD error = service ? ERROR_SUCCESS : GetLastError();
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}

// The product's present devices that say they need a restart, whatever asked for it.
void AddDevicesAskingForRestart(std::set<std::string, LessIgnoreCase>* devices) {
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (!CatalogueIdMatching(kvxwin::ReadDeviceStrings(set, &device, SPDRP_HARDWAREID))) {
            continue;
        }
        ULONG status = 0;
        ULONG problem = 0;
        if (CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == CR_SUCCESS &&
            ((status & DN_NEED_RESTART) || problem == CM_PROB_NEED_RESTART)) {
            devices->insert(DeviceName(set, &device));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

bool MarkedForDeletion(const std::string& name) {
    const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD flag = 0;
    DWORD size = sizeof flag;
    DWORD type = 0;
    const bool marked = RegQueryValueExA(key, "DeleteFlag", nullptr, &type,
                                         reinterpret_cast<BYTE*>(&flag), &size) == ERROR_SUCCESS &&
                        type == REG_DWORD && flag != 0;
    RegCloseKey(key);
    return marked;
}

void NoteServiceDeletion(const std::string& name) {
    g_deleted_services.insert(name);
}

void NoteServiceHandleClosed(const std::string& name) {
    if (g_deleted_services.contains(name) && !StillRegistered(name)) {
        g_deleted_services.erase(name);
    }
}

void NoteDeviceRestart(const std::string& device) {
    g_devices_needing_restart.insert(device);
}

void ForgetRestartNotes() {
    g_deleted_services.clear();
    g_devices_needing_restart.clear();
    ForgetRestartFiles();
}

bool RestartNeeded(std::vector<std::string>* reasons) {
    std::vector<std::string> found;
    for (const std::string& path : RecordedObjects(Change::kFileScheduled)) {
        found.push_back("scheduled file " + path + " for deletion at restart");
    }
    for (const std::string& path : RecordedObjects(Change::kFileDeletePending)) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
            GetLastError() == ERROR_ACCESS_DENIED) {
            found.push_back("file " + path + " goes once the handles still open on it close");
        }
    }
    for (const std::string& path : RecordedObjects(Change::kFileReplaced)) {
        found.push_back("scheduled file " + path + " for replacement at restart");
    }
    for (const std::string& name : g_deleted_services) {
        if (MarkedForDeletion(name) || StillRegistered(name))
            found.push_back("service " + name + " is marked for deletion");
    }
    std::set<std::string, LessIgnoreCase> devices = g_devices_needing_restart;
    AddDevicesAskingForRestart(&devices);
    for (const std::string& device : devices) {
        found.push_back("device " + device + " needs a restart");
    }
    if (reasons) *reasons = found;
    return !found.empty();
}
