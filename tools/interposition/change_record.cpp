#include "interposition/change_record.h"

#include <cfgmgr32.h>

#include <array>
#include <map>
#include <set>

#include "interposition/case_order.h"
#include "interposition/catalogue_ids.h"
#include "interposition/error_text.h"
#include "interposition/replacements.h"
#include "interposition/restart_notes.h"
#include "win32_common/device_registry.h"

namespace {

struct Wording {
    const char* action;  // "delete file"
    const char* done;    // "deleted file"
    const char* after;   // Follows the object: " for deletion at restart".
};

constexpr Wording kWordings[] = {
    {"stop service", "stopped service", ""},
    {"delete service", "deleted service", ""},
    {"remove device", "removed device", ""},
    {"delete file", "deleted file", ""},
    {"schedule file", "scheduled file", " for deletion at restart"},
    {"mark file", "marked file", " for deletion once its other handles close"},
    {"schedule file for replacement", "scheduled file", " for replacement at restart"},
    {"delete registry key", "deleted registry key", ""},
    {"stage INF", "staged INF", ""},
    {"update the driver of", "updated the driver of", ""},
    {"re-enumerate", "re-enumerated", ""},
    {"also", "also", ""},
};

using Names = std::set<std::string, LessIgnoreCase>;

InterpositionMode g_mode = InterpositionMode::kPreview;
std::array<Names, std::size(kWordings)> g_made;
// A refusal with each error it met: the same object may be refused for two reasons.
std::array<std::map<std::string, std::set<DWORD>, LessIgnoreCase>, std::size(kWordings)> g_refused;
std::map<SC_HANDLE, std::string> g_service_names;
std::map<std::string, DWORD, LessIgnoreCase> g_skipped;

std::string SkipReason(DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return "in use by another process";
    }
    if (error == ERROR_ACCESS_DENIED) return "access denied";
    return ResultText(error);
}

std::string SkipLine(const std::string& object, DWORD error) {
    return "skipped " + object + ": " + SkipReason(error) + " (" + std::to_string(error) + ")";
}

std::string Line(size_t group, const std::string& object, DWORD error) {
    const Wording& wording = kWordings[group];
    const bool preview = g_mode == InterpositionMode::kPreview;
    std::string line;
    if (error == ERROR_SUCCESS) {
        line = preview ? std::string("would ") + wording.action : wording.done;
    } else {
        line = std::string(preview ? "would fail to " : "could not ") + wording.action;
    }
    line += " " + object + wording.after;
    if (error != ERROR_SUCCESS) line += ": " + DescribeResult(error);
    return line;
}

}  // namespace

InterpositionMode CurrentMode() {
    return g_mode;
}

void SetMode(InterpositionMode mode) {
    g_mode = mode;
}

// A call that failed because its object was not there changed nothing, and left nothing
// behind: the module asks for every file and service any release may have had.
static bool NothingThere(Change change, DWORD error) {
    switch (change) {
        case Change::kFileDeleted:
        case Change::kRegistryKeyDeleted:
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        case Change::kServiceStopped:
            return error == ERROR_SERVICE_NOT_ACTIVE || error == ERROR_SERVICE_DOES_NOT_EXIST;
        case Change::kServiceDeleted:
            return error == ERROR_SERVICE_DOES_NOT_EXIST;
        case Change::kDriverUpdated:
            return error == ERROR_NO_SUCH_DEVINST;
        default:
            return false;
    }
}

void RecordChange(Change change, const std::string& what, DWORD error) {
    const size_t group = static_cast<size_t>(change);
    if (change == Change::kDeviceRemoved || change == Change::kDevicesReenumerated) {
        ForgetPresentDevices();
    }
    if (NothingThere(change, error)) return;
    if (error == ERROR_SUCCESS) {
        g_made[group].insert(what);
    } else {
        g_refused[group][what].insert(error);
    }
}

void RecordSkip(const std::string& what, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    g_skipped.emplace(what, error);
}

bool WasRecorded(Change change, const std::string& what) {
    return g_made[static_cast<size_t>(change)].contains(what);
}

std::vector<std::string> RecordedObjects(Change change) {
    const Names& names = g_made[static_cast<size_t>(change)];
    return {names.begin(), names.end()};
}

namespace {

// Calls `visit(group, object, error)` for every change, then every refusal, in report order.
template <typename Visit>
void ForEachRecorded(Visit visit) {
    for (size_t group = 0; group < g_made.size(); ++group) {
        for (const std::string& what : g_made[group]) visit(group, what, ERROR_SUCCESS);
    }
    for (size_t group = 0; group < g_refused.size(); ++group) {
        for (const auto& [what, errors] : g_refused[group]) {
            for (DWORD error : errors) visit(group, what, error);
        }
    }
}

}  // namespace

std::vector<RecordedChange> RecordedChanges() {
    std::vector<RecordedChange> changes;
    ForEachRecorded([&](size_t group, const std::string& what, DWORD error) {
        changes.push_back({kWordings[group].action, what, error});
    });
    return changes;
}

std::vector<RecordedChange> RecordedSkips() {
    std::vector<RecordedChange> skips;
    for (const auto& [what, error] : g_skipped) skips.push_back({"skip", what, error});
    return skips;
}

std::vector<std::string> DescribeRecordedChanges() {
    std::vector<std::string> lines;
    ForEachRecorded([&](size_t group, const std::string& what, DWORD error) {
        lines.push_back(Line(group, what, error));
    });
    for (const auto& [what, error] : g_skipped) lines.push_back(SkipLine(what, error));
    return lines;
}

std::string SummarizeRecordedChanges() {
    size_t made = 0;
    size_t refused = 0;
    ForEachRecorded([&](size_t, const std::string&, DWORD error) {
        ++(error == ERROR_SUCCESS ? made : refused);
    });
    const std::string changes = std::to_string(made) + (made == 1 ? " change" : " changes");
    const std::string skipped =
        g_skipped.empty() ? "" : ", " + std::to_string(g_skipped.size()) + " skipped";
    if (g_mode == InterpositionMode::kPreview) {
        return "would make " + changes + ", " + std::to_string(refused) + " would be refused" +
               skipped;
    }
    return changes + ", " + std::to_string(refused) + " refused" + skipped;
}

void ForgetRecordedChanges() {
    for (Names& names : g_made) names.clear();
    for (auto& refusals : g_refused) refusals.clear();
    g_service_names.clear();
    g_skipped.clear();
    ForgetDriverMatches();
    ForgetRestartNotes();
}

std::string KeyName(HKEY key, const char* subkey) {
    std::string root = "(an open key)\\";
    if (key == HKEY_LOCAL_MACHINE) root = "HKLM\\";
    if (key == HKEY_CURRENT_USER) root = "HKCU\\";
    if (key == HKEY_CLASSES_ROOT) root = "HKCR\\";
    if (key == HKEY_USERS) root = "HKU\\";
    return root + (subkey ? subkey : "");
}

bool OpensForWriting(DWORD access, DWORD disposition) {
    constexpr DWORD kReadAccess = GENERIC_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES |
                                  FILE_READ_EA | READ_CONTROL | SYNCHRONIZE;
    return (access & ~kReadAccess) != 0 || disposition != OPEN_EXISTING;
}

std::string ShownPath(const char* path) {
    std::string shown = path ? path : "";
    for (char& c : shown) {
        if (c == '/') c = '\\';
    }
    return shown;
}

SC_HANDLE WINAPI RememberOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
    SC_HANDLE service = OpenServiceA(manager, name, access);
    const DWORD error = GetLastError();
    if (service && name) g_service_names[service] = name;
    SetLastError(error);
    return service;
}

std::string ServiceNameOf(SC_HANDLE service) {
    const auto found = g_service_names.find(service);
    return found == g_service_names.end() ? "(unknown service)" : found->second;
}

std::string DeviceName(HDEVINFO set, SP_DEVINFO_DATA* device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!device || !SetupDiGetDeviceInstanceIdA(set, device, id, sizeof id, nullptr)) {
        return "(unnamed device)";
    }
    const std::string instance = id;
    const auto ids = kvxwin::ReadDeviceStrings(set, device, SPDRP_HARDWAREID);
    const char* matched = CatalogueIdMatching(ids);
    if (matched) return instance + ", matching " + matched;
    return ids.empty() ? instance : instance + ", hardware ID " + ids.front();
}
