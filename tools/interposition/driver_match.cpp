#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/case_insensitive.h"
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

// The hardware and compatible IDs follow the install section on a models line.
bool SectionListsId(HINF inf, const std::string& section, const char* hardware_id) {
    INFCONTEXT line;
    for (BOOL more = SetupFindFirstLineA(inf, section.c_str(), nullptr, &line); more;
         more = SetupFindNextLine(&line, &line)) {
        const DWORD count = SetupGetFieldCount(&line);
        for (DWORD index = 2; index <= count; ++index) {
            if (EqualsIgnoreCase(Field(&line, index).c_str(), hardware_id)) return true;
        }
    }
    return false;
}

bool HasId(const std::vector<std::string>& ids, const char* wanted) {
    return std::any_of(ids.begin(), ids.end(), [wanted](const std::string& id) {
        return EqualsIgnoreCase(id.c_str(), wanted);
    });
}

}  // namespace

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
            // A real run's machine answers for itself: a removed board that a rescan has
            // brought back since is there again.
            found = CurrentMode() == InterpositionMode::kPassThrough ||
                    !WasRecorded(Change::kDeviceRemoved, DeviceName(set, &device));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

bool InfListsHardwareId(const char* inf, const char* hardware_id, DWORD* open_error) {
    HINF opened = SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        *open_error = GetLastError();
        return false;
    }
    *open_error = ERROR_SUCCESS;
    bool listed = false;
    for (const std::string& section : ModelsSections(opened)) {
        if (SectionListsId(opened, section, hardware_id)) listed = true;
    }
    SetupCloseInfFile(opened);
    return listed;
}
