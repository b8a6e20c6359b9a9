#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/case_insensitive.h"
#include "interposition/case_order.h"
#include "interposition/change_record.h"
#include "interposition/inf_file_copies.h"
#include "interposition/replacements.h"
#include "win32_common/device_registry.h"

namespace {

std::string Field(INFCONTEXT* line, DWORD index) {
    char text[512] = {};
    if (!SetupGetStringFieldA(line, index, text, sizeof text, nullptr)) return "";
    return text;
}

}  // namespace

std::vector<std::string> ModelsSections(HINF inf) {
    std::vector<std::string> sections;
    INFCONTEXT line;
    for (BOOL more = SetupFindFirstLineA(inf, "Manufacturer", nullptr, &line); more;
         more = SetupFindNextLine(&line, &line)) {
        const std::string name = Field(&line, 1);
        if (name.empty()) continue;
        sections.push_back(name);
        const DWORD count = SetupGetFieldCount(&line);
        for (DWORD index = 2; index <= count; ++index) {
            const std::string decoration = Field(&line, index);
            if (!decoration.empty()) sections.push_back(name + "." + decoration);
        }
    }
    return sections;
}

namespace {

bool HasId(const std::vector<std::string>& ids, const char* wanted) {
    return std::any_of(ids.begin(), ids.end(), [wanted](const std::string& id) {
        return EqualsIgnoreCase(id.c_str(), wanted);
    });
}

// The IDs of the present devices, read once for the run of driver updates an install makes
// (one device list instead of one per update): nothing but a removal or a re-enumeration
// changes them.
struct PresentDevice {
    std::string name;
    std::vector<std::string> ids;  // Hardware, then compatible IDs.
};
std::optional<std::vector<PresentDevice>> g_present_devices;

std::vector<PresentDevice> ReadPresentDevices() {
    std::vector<PresentDevice> devices;
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        PresentDevice present = {DeviceName(set, &device),
                                 kvxwin::ReadDeviceStrings(set, &device, SPDRP_HARDWAREID)};
        for (std::string& id : kvxwin::ReadDeviceStrings(set, &device, SPDRP_COMPATIBLEIDS)) {
            present.ids.push_back(std::move(id));
        }
        devices.push_back(std::move(present));
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

// What an INF's models sections list, read once per INF and run: the module offers one INF
// for each of a family's hardware IDs, and the file does not change meanwhile.
struct InfModels {
    DWORD open_error;
    std::vector<std::string> ids;
};
std::map<std::string, InfModels, LessIgnoreCase> g_inf_models;

InfModels ReadInfModels(const char* inf) {
    HINF opened = SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return {GetLastError(), {}};
    InfModels models = {ERROR_SUCCESS, {}};
    for (const std::string& section : ModelsSections(opened)) {
        INFCONTEXT line;
        for (BOOL more = SetupFindFirstLineA(opened, section.c_str(), nullptr, &line); more;
             more = SetupFindNextLine(&line, &line)) {
            // The hardware and compatible IDs follow the install section on a models line.
            const DWORD count = SetupGetFieldCount(&line);
            for (DWORD index = 2; index <= count; ++index) {
                models.ids.push_back(Field(&line, index));
            }
        }
    }
    SetupCloseInfFile(opened);
    return models;
}

}  // namespace

void ForgetPresentDevices() {
    g_present_devices.reset();
}

void ForgetDriverMatches() {
    g_present_devices.reset();
    g_inf_models.clear();
}

bool SomeDeviceHasId(const char* hardware_id) {
    if (!g_present_devices) g_present_devices = ReadPresentDevices();
    return std::any_of(g_present_devices->begin(), g_present_devices->end(),
                       [hardware_id](const PresentDevice& device) {
                           // A real run's machine answers for itself: a removed board
                           // that a rescan has brought back since is there again.
                           return HasId(device.ids, hardware_id) &&
                                  (CurrentMode() == InterpositionMode::kPassThrough ||
                                   !WasRecorded(Change::kDeviceRemoved, device.name));
                       });
}

bool InfListsHardwareId(const char* inf, const char* hardware_id, DWORD* open_error) {
    auto found = g_inf_models.find(inf);
    if (found == g_inf_models.end()) found = g_inf_models.emplace(inf, ReadInfModels(inf)).first;
    *open_error = found->second.open_error;
    return found->second.open_error == ERROR_SUCCESS && HasId(found->second.ids, hardware_id);
}
