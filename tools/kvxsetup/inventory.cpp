#include "inventory.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "catalog/catalog.h"
#include "interposition/case_order.h"
#include "interposition/catalogue_ids.h"
#include "common/case_insensitive.h"
#include "win32_common/device_registry.h"
#include "win32_common/registry_value.h"
#include "win32_common/system_directories.h"

namespace {

using Items = std::vector<InventoryItem>;

std::string ErrorText(DWORD error) {
    return "err=" + std::to_string(error);
}

InventoryGroup Sorted(InventoryGroup group) {
    std::sort(group.items.begin(), group.items.end(),
              [](const InventoryItem& a, const InventoryItem& b) {
                  return LessIgnoreCase{}(a.line, b.line);
              });
    return group;
}

InventoryField Text(const char* name, std::string value) {
    return {name, std::move(value), false};
}

InventoryField Number(const char* name, unsigned long value) {
    return {name, std::to_string(value), true};
}

InventoryField Nothing(const char* name) {
    return {name, std::nullopt, false};
}

struct Presence {
    std::string state;
    std::optional<ULONG> problem;  // Only where the platform reports one.
};

// A phantom is a device the registry remembers but whose hardware is not there now.
Presence PresenceOf(DEVINST instance) {
    ULONG status = 0;
    ULONG problem = 0;
    const CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, instance, 0);
    if (result == CR_SUCCESS) {
        if (status & DN_HAS_PROBLEM) return {"present", problem};
        return {"present", std::nullopt};
    }
    if (result == CR_NO_SUCH_DEVINST || result == CR_NO_SUCH_DEVNODE)
        return {"phantom", std::nullopt};
    return {"presence unknown (CR " + std::to_string(result) + ")", std::nullopt};
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

struct Driver {
    bool installed = false;
    std::string provider;
};

Driver DriverOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
    const std::string driver_key = kvxwin::DriverKeyPath(set, device);
    if (driver_key.empty()) return {};
    std::string provider = kvxwin::ReadHklmString(driver_key, "ProviderName");
    if (provider.empty()) provider = ProviderInInf(kvxwin::ReadHklmString(driver_key, "InfPath"));
    return {true, provider};
}

InventoryItem DescribeDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const char* matched) {
    char instance_id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, device, instance_id, sizeof instance_id, nullptr)) {
        snprintf(instance_id, sizeof instance_id, "(instance ID unreadable, err=%lu)",
                 static_cast<unsigned long>(GetLastError()));
    }
    const std::string service = kvxwin::ReadDeviceString(set, device, SPDRP_SERVICE);
    const Presence presence = PresenceOf(device->DevInst);
    const Driver driver = DriverOf(set, device);
    const std::string provider_text = !driver.installed ? "no driver"
                                      : driver.provider.empty()
                                          ? "no provider"
                                          : "provider \"" + driver.provider + "\"";
    std::string line = std::string("device ") + instance_id + ": " + presence.state + ", service " +
                       (service.empty() ? "none" : service) + ", " + provider_text + ", matches " +
                       matched;
    if (presence.problem) line += ", problem " + std::to_string(*presence.problem);
    return {"device",
            {Text("name", instance_id), Text("state", presence.state),
             service.empty() ? Nothing("service") : Text("service", service),
             Text("driver", driver.installed ? "installed" : "none"),
             driver.provider.empty() ? Nothing("provider") : Text("provider", driver.provider),
             Text("matches", matched),
             presence.problem ? Number("problem", *presence.problem) : Nothing("problem")},
            line};
}

InventoryGroup ListDevices() {
    InventoryGroup group = {"devices", {}, "device: none of the product's", {}};
    // Every device the registry knows, phantoms included.
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        group.error = "device list unavailable, " + ErrorText(error);
        return group;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const char* matched =
            CatalogueIdMatching(kvxwin::ReadDeviceStrings(set, &device, SPDRP_HARDWAREID));
        if (matched) group.items.push_back(DescribeDevice(set, &device, matched));
    }
    SetupDiDestroyDeviceInfoList(set);
    return Sorted(std::move(group));
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

InventoryItem ServiceItem(const std::string& name, const std::string& state, DWORD error) {
    const std::string shown = error ? state + ", " + ErrorText(error) : state;
    return {"service",
            {Text("name", name), Text("state", state),
             error ? Number("error", error) : Nothing("error")},
            "service " + name + ": " + shown};
}

InventoryItem ServiceState(SC_HANDLE manager, const std::string& name) {
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (!service) {
        const DWORD error = GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceItem(name, "not installed", 0)
                                                     : ServiceItem(name, "unreadable", error);
    }
    SERVICE_STATUS status = {};
    const BOOL queried = QueryServiceStatus(service, &status);
    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    return queried ? ServiceItem(name, StateName(status.dwCurrentState), 0)
                   : ServiceItem(name, "unreadable", error);
}

InventoryGroup ListServices() {
    std::vector<std::string> names = {BackgroundServiceName, Dz4xServiceName, HxFirstServiceName,
                                      HxServiceName};
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    const DWORD error = GetLastError();
    InventoryGroup group = {"services", {}, {}, {}};
    for (const std::string& name : names) {
        group.items.push_back(manager ? ServiceState(manager, name)
                                      : ServiceItem(name, "unreadable", error));
    }
    if (manager) CloseServiceHandle(manager);
    return Sorted(std::move(group));
}

const char* RegistryTypeName(DWORD type) {
    switch (type) {
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_NONE:
            return "REG_NONE";
        default:
            return nullptr;
    }
}

// The image path as text; a value of another type is shown by its type, not its bytes read
// as characters, since that is what the module's read would fail on.
std::string ReadImagePath(const char* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    const LONG status =
        RegQueryValueExA(opened, ImagePathValueName, nullptr, &type, nullptr, &size);
    RegCloseKey(opened);
    if (status != ERROR_SUCCESS || type == REG_SZ || type == REG_EXPAND_SZ) {
        return kvxwin::ReadHklmString(key, ImagePathValueName);
    }
    const char* name = RegistryTypeName(type);
    return std::string("(a ") + (name ? name : "type " + std::to_string(type)) +
           " value, not text)";
}

InventoryGroup ListImagePaths() {
    InventoryGroup group = {"image_paths", {}, {}, {}};
    for (const char* key : {Dz4xServiceKey, HxServiceKey}) {
        const std::string name = std::string("HKLM\\") + key;
        const std::string image = ReadImagePath(key);
        group.items.push_back(
            {"image_path",
             {Text("name", name), image.empty() ? Nothing("path") : Text("path", image)},
             "image path of " + name + ": " + (image.empty() ? "none" : image)});
    }
    return Sorted(std::move(group));
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

InventoryGroup ListInfs() {
    const std::string directory = kvxwin::WindowsDirectory() + InfSubdirectory;
    InventoryGroup group = {"infs", {}, "inf: none of the product's in " + directory, {}};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*.inf").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::string path = directory + found.cFileName;
            const char* header = ProductHeaderOf(path);
            if (header) {
                // "; Copyright 2004, Kavexa Systems Inc" without its line end.
                const std::string shown(header, kInfHeaderLength - 2);
                group.items.push_back(
                    {"inf",
                     {Text("path", path), Text("state", "product header"), Text("header", shown)},
                     "inf " + path + ": begins \"" + shown + "\""});
            } else if (EqualsIgnoreCase(found.cFileName, ProductInfName)) {
                group.items.push_back(
                    {"inf",
                     {Text("path", path), Text("state", "product's own name"), Nothing("header")},
                     "inf " + path + ": the product's own INF"});
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return Sorted(std::move(group));
}

InventoryGroup ListDriverBinaries() {
    const std::string directory = kvxwin::SystemDirectory() + DriversSubdirectory;
    InventoryGroup group = {"drivers", {}, {}, {}};
    for (const char* binary : {Dz4xDriverBinary, HxDriverBinary, HxhwDriverBinary}) {
        const std::string path = directory + binary;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        const char* state = attributes == INVALID_FILE_ATTRIBUTES ? "missing" : "present";
        group.items.push_back({"driver",
                               {Text("path", path), Text("state", state)},
                               "driver " + path + ": " + state});
    }
    return Sorted(std::move(group));
}

}  // namespace

// The module removes a device when one of its hardware IDs begins with one of the
// catalogue's (letters A-Z folded); the same test here shows what it would touch.
std::vector<InventoryGroup> TakeInventory() {
    return {ListDevices(), ListServices(), ListImagePaths(), ListInfs(), ListDriverBinaries()};
}
