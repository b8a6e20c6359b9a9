#include "machine_listing.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "win32_common/device_registry.h"
#include "win32_common/registry_value.h"
#include "win32_common/system_directories.h"

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return text;
}

// Both families carry the product's vendor 0E7C: as the board's vendor or its subsystem's.
bool IsProductBoard(const std::vector<std::string>& hardware_ids) {
    return std::any_of(hardware_ids.begin(), hardware_ids.end(), [](const std::string& id) {
        return Upper(id).find("0E7C") != std::string::npos;
    });
}

// The INF in the INF store that installed the device's driver, and the driver's name.
std::string DescribeDriver(HDEVINFO set, SP_DEVINFO_DATA* device) {
    const std::string path = kvxwin::DriverKeyPath(set, device);
    if (path.empty()) return "none";
    const std::string inf = kvxwin::ReadHklmString(path, "InfPath");
    std::string description = kvxwin::ReadHklmString(path, "DriverDesc");
    // Not every platform keeps the description in the driver key; the device has it too.
    if (description.empty()) description = kvxwin::ReadDeviceString(set, device, SPDRP_DEVICEDESC);
    return (inf.empty() ? "(unknown INF)" : inf) + ", \"" + description + "\"";
}

void PrintProductDevices() {
    printf("Devices of the product (any hardware ID with vendor 0E7C):\n");
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        printf("  cannot list devices, err=%lu\n", static_cast<unsigned long>(GetLastError()));
        return;
    }
    int shown = 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::vector<std::string> ids =
            kvxwin::ReadDeviceStrings(set, &device, SPDRP_HARDWAREID);
        if (!IsProductBoard(ids)) continue;
        char instance_id[MAX_PATH] = {};
        SetupDiGetDeviceInstanceIdA(set, &device, instance_id, sizeof instance_id, nullptr);
        const std::string service = kvxwin::ReadDeviceString(set, &device, SPDRP_SERVICE);
        printf("  %s\n      service: %s\n      driver:  %s\n", instance_id,
               service.empty() ? "none" : service.c_str(), DescribeDriver(set, &device).c_str());
        for (const std::string& id : ids) printf("      id:      %s\n", id.c_str());
        ++shown;
    }
    SetupDiDestroyDeviceInfoList(set);
    if (shown == 0) printf("  none\n");
}

void PrintService(SC_HANDLE manager, const char* name) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (!service) {
        printf("  %-10s not installed\n", name);
        return;
    }
    SERVICE_STATUS status = {};
    QueryServiceStatus(service, &status);
    const char* state = status.dwCurrentState == SERVICE_RUNNING   ? "running"
                        : status.dwCurrentState == SERVICE_STOPPED ? "stopped"
                                                                   : "changing state";
    std::vector<char> config_buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config_buffer.data());
    DWORD needed = 0;
    const bool have_config =
        QueryServiceConfigA(service, config, static_cast<DWORD>(config_buffer.size()), &needed);
    CloseServiceHandle(service);
    const char* start = !have_config                                  ? "?"
                        : config->dwStartType == SERVICE_DEMAND_START ? "demand start"
                        : config->dwStartType == SERVICE_AUTO_START   ? "auto start"
                                                                      : "other start type";
    printf("  %-10s installed, %s, %s, image %s\n", name, state, start,
           have_config && config->lpBinaryPathName ? config->lpBinaryPathName : "?");
}

void PrintProductServices() {
    printf("Services of the product:\n");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        printf("  cannot open the service manager, err=%lu\n",
               static_cast<unsigned long>(GetLastError()));
        return;
    }
    for (const char* name :
         {BackgroundServiceName, Dz4xServiceName, HxFirstServiceName, HxServiceName}) {
        PrintService(manager, name);
    }
    CloseServiceHandle(manager);
}

// The first line of a file, if it is one of the product's INF header lines.
bool StartsWithProductHeader(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char head[kInfHeaderLength] = {};
    DWORD got = 0;
    const BOOL read = ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    if (!read || got != sizeof head) return false;
    return std::any_of(std::begin(InfHeaderLines), std::end(InfHeaderLines),
                       [&](const char* line) { return std::equal(head, head + got, line); });
}

void PrintInfStore() {
    const std::string directory = kvxwin::WindowsDirectory() + InfSubdirectory;
    printf("Files in %s:\n", directory.c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        printf("  none\n");
        return;
    }
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const bool ours = StartsWithProductHeader(directory + found.cFileName);
        printf("  %-16s %7lu bytes%s\n", found.cFileName,
               static_cast<unsigned long>(found.nFileSizeLow),
               ours ? "  <- the product's (Kavexa header line)" : "");
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

void PrintMachine() {
    PrintProductDevices();
    PrintProductServices();
    PrintInfStore();
    fflush(stdout);
}
