#include "interposition/change_record.h"
#include "interposition/machine_changes.h"
#include "interposition/restart_notes.h"

#include <set>

#include "interposition/case_order.h"

namespace {

std::set<std::string, LessIgnoreCase> g_deleted_services;
std::set<std::string, LessIgnoreCase> g_devices_needing_restart;

// A deleted service that the system still knows by name is marked for deletion: some
// process holds it, or it still runs.
bool StillRegistered(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    const DWORD error = service ? ERROR_SUCCESS : GetLastError();
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}

}  // namespace

void NoteServiceDeletion(const std::string& name) {
    g_deleted_services.insert(name);
}

void NoteDeviceRestart(const std::string& device) {
    g_devices_needing_restart.insert(device);
}

void ForgetRestartNotes() {
    g_deleted_services.clear();
    g_devices_needing_restart.clear();
}

bool RestartNeeded(std::vector<std::string>* reasons) {
    std::vector<std::string> found;
    for (const std::string& path : RecordedObjects(Change::kFileScheduled)) {
        found.push_back("scheduled file " + path + " for deletion at restart");
    }
    for (const std::string& name : g_deleted_services) {
        if (StillRegistered(name)) found.push_back("service " + name + " is marked for deletion");
    }
    for (const std::string& device : g_devices_needing_restart) {
        found.push_back("device " + device + " needs a restart");
    }
    if (reasons) *reasons = found;
    return !found.empty();
}
