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

// A deleted service that the system still knows by name and that refuses a change of its
// configuration is marked for deletion: some process holds it, or it still runs. One of
// the same name created again since is not.
bool StillMarkedForDeletion(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_CHANGE_CONFIG);
    const DWORD error = service ? ERROR_SUCCESS : GetLastError();
    const bool marked =
        service ? MarkedForDeletion(service, name) : error == ERROR_SERVICE_MARKED_FOR_DELETE;
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return marked;
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

bool MarkedForDeletion(SC_HANDLE service, const std::string& name) {
    const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        DWORD flag = 0;
        DWORD size = sizeof flag;
        DWORD type = 0;
        const bool marked =
            RegQueryValueExA(key, "DeleteFlag", nullptr, &type, reinterpret_cast<BYTE*>(&flag),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD && flag != 0;
        RegCloseKey(key);
        if (marked) return true;
    }
    const BOOL changed =
        ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    return !changed && GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

void NoteServiceDeletion(const std::string& name) {
    g_deleted_services.insert(name);
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
    for (const std::string& path : RecordedObjects(Change::kFileReplaced)) {
        found.push_back("scheduled file " + path + " for replacement at restart");
    }
    for (const std::string& name : g_deleted_services) {
        if (StillMarkedForDeletion(name))
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
