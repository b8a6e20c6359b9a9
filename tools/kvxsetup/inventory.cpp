#include "inventory.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>

#include "catalog/catalog.h"
#include "common/case_insensitive.h"
#include "win32_common/device_registry.h"
#include "win32_common/registry_value.h"
#include "win32_common/system_directories.h"

namespace {

using Lines = std::vector<std::string>;

std::string ErrorText(DWORD error) {
    return "err=" + std::to_string(error);
}

bool LessIgnoreCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
        return fold(x) < fold(y);
    });
}

void SortIgnoreCase(Lines* lines) {
    std::sort(lines->begin(), lines->end(), LessIgnoreCase);
}

// The module removes a device when one of its hardware IDs begins with one of the
// catalogue's (letters A-Z folded); the same test here shows what it would touch.
const char* CatalogueIdMatching(const std::vector<std::string>& hardware_ids) {
    for (const std::string& id : hardware_ids) {
        for (const auto& family : {std::span<const char* const>(Dz4xHardwareIds),
                                   std::span<const char* const>(HxHardwareIds)}) {
            for (const char* known : family) {
                if (EqualsIgnoreCaseN(id.c_str(), known, strlen(known))) return known;
            }
        }
    }
    return nullptr;
}

// A phantom is a device the registry remembers but whose hardware is not there now.
std::string PresenceOf(DEVINST instance) {
    ULONG status = 0;
    ULONG problem = 0;
    const CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, instance, 0);
    if (result == CR_SUCCESS) return "present";
    if (result == CR_NO_SUCH_DEVINST || result == CR_NO_SUCH_DEVNODE) return "phantom";
    return "presence unknown (CR " + std::to_string(result) + ")";
}

// Some platforms keep only the INF's name in the driver key; its [Version] section names
// the provider then (the INF's strings substituted).
std::string ProviderInInf(const std::string& inf_name) {
    if (inf_name.empty()) return {};
    const std::string path = kvxwin::WindowsDirectory() + InfSubdirectory + inf_name;
    HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE) return {};
    INFCONTEXT line = {};
    char provider[LINE_LEN] = {};
    const bool found = SetupFindFirstLineA(inf, "Version", "Provider", &line) &&
                       SetupGetStringFieldA(&line, 1, provider, sizeof provider, nullptr);
    SetupCloseInfFile(inf);
    return found ? provider : "";
}

std::string ProviderOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
    const std::string driver_key = kvxwin::DriverKeyPath(set, device);
    if (driver_key.empty()) return "no driver";
    std::string provider = kvxwin::ReadHklmString(driver_key, "ProviderName");
    if (provider.empty()) provider = ProviderInInf(kvxwin::ReadHklmString(driver_key, "InfPath"));
    return provider.empty() ? "no provider" : "provider \"" + provider + "\"";
}

std::string DescribeDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const char* matched) {
    char instance_id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, device, instance_id, sizeof instance_id, nullptr)) {
        snprintf(instance_id, sizeof instance_id, "(instance ID unreadable, err=%lu)",
                 static_cast<unsigned long>(GetLastError()));
    }
    const std::string service = kvxwin::ReadDeviceString(set, device, SPDRP_SERVICE);
    return std::string("device ") + instance_id + ": " + PresenceOf(device->DevInst) +
           ", service " + (service.empty() ? "none" : service) + ", " + ProviderOf(set, device) +
           ", matches " + matched;
}

Lines ListDevices() {
    // Every device the registry knows, phantoms included.
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return {"device list unavailable, " + ErrorText(error)};
    }
    Lines lines;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const char* matched =
            CatalogueIdMatching(kvxwin::ReadDeviceStrings(set, &device, SPDRP_HARDWAREID));
        if (matched) lines.push_back(DescribeDevice(set, &device, matched));
    }
    SetupDiDestroyDeviceInfoList(set);
    SortIgnoreCase(&lines);
    if (lines.empty()) lines.push_back("device: none of the product's");
    return lines;
}

const char* StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "stopped";
        case SERVICE_START_PENDING:
            return "start pending";
        case SERVICE_STOP_PENDING:
            return "stop pending";
        case SERVICE_RUNNING:
            return "running";
        case SERVICE_CONTINUE_PENDING:
            return "continue pending";
        case SERVICE_PAUSE_PENDING:
            return "pause pending";
        case SERVICE_PAUSED:
            return "paused";
        default:
            return "in an unknown state";
    }
}

std::string ServiceState(SC_HANDLE manager, const char* name) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (!service) {
        const DWORD error = GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST ? "not installed"
                                                     : "unreadable, " + ErrorText(error);
    }
    SERVICE_STATUS status = {};
    const BOOL queried = QueryServiceStatus(service, &status);
    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    return queried ? StateName(status.dwCurrentState) : "unreadable, " + ErrorText(error);
}

Lines ListServices() {
    Lines names = {BackgroundServiceName, Dz4xServiceName, HxFirstServiceName, HxServiceName};
    SortIgnoreCase(&names);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    const DWORD error = GetLastError();
    Lines lines;
    for (const std::string& name : names) {
        const std::string state =
            manager ? ServiceState(manager, name.c_str()) : "unreadable, " + ErrorText(error);
        lines.push_back("service " + name + ": " + state);
    }
    if (manager) CloseServiceHandle(manager);
    return lines;
}

Lines ListImagePaths() {
    Lines lines;
    for (const char* key : {Dz4xServiceKey, HxServiceKey}) {
        const std::string image = kvxwin::ReadHklmString(key, ImagePathValueName);
        lines.push_back(std::string("image path of HKLM\\") + key + ": " +
                        (image.empty() ? "none" : image));
    }
    SortIgnoreCase(&lines);
    return lines;
}

// The product header line the file begins with (letters A-Z folded, as the module's INF
// store clean-up compares); null when it begins with none.
const char* ProductHeaderOf(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    char head[kInfHeaderLength] = {};
    DWORD got = 0;
    const BOOL read = ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    if (!read || got != sizeof head) return nullptr;
    for (const char* line : InfHeaderLines) {
        if (EqualsIgnoreCaseBounded(head, sizeof head, line, kInfHeaderLength)) return line;
    }
    return nullptr;
}

// "; Copyright 2004, Kavexa Systems Inc" without its line end.
std::string ShowHeader(const char* line) {
    return std::string(line, kInfHeaderLength - 2);
}

Lines ListInfs() {
    const std::string directory = kvxwin::WindowsDirectory() + InfSubdirectory;
    Lines lines;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*.inf").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::string path = directory + found.cFileName;
            const char* header = ProductHeaderOf(path);
            if (header) {
                lines.push_back("inf " + path + ": begins \"" + ShowHeader(header) + "\"");
            } else if (EqualsIgnoreCase(found.cFileName, ProductInfName)) {
                lines.push_back("inf " + path + ": the product's own INF");
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SortIgnoreCase(&lines);
    if (lines.empty()) lines.push_back("inf: none of the product's in " + directory);
    return lines;
}

Lines ListDriverBinaries() {
    const std::string directory = kvxwin::SystemDirectory() + DriversSubdirectory;
    Lines lines;
    for (const char* binary : {Dz4xDriverBinary, HxDriverBinary, HxhwDriverBinary}) {
        const std::string path = directory + binary;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        lines.push_back("driver " + path + ": " +
                        (attributes == INVALID_FILE_ATTRIBUTES ? "missing" : "present"));
    }
    SortIgnoreCase(&lines);
    return lines;
}

void Append(Lines* to, Lines from) {
    std::move(from.begin(), from.end(), std::back_inserter(*to));
}

}  // namespace

std::vector<std::string> TakeInventory() {
    Lines lines;
    Append(&lines, ListDevices());
    Append(&lines, ListServices());
    Append(&lines, ListImagePaths());
    Append(&lines, ListInfs());
    Append(&lines, ListDriverBinaries());
    return lines;
}
