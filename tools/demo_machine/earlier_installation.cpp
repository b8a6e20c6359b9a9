#include "earlier_installation.h"

#include <windows.h>

#include <cstdio>

#include "catalog/catalog.h"
#include "demo_boards.h"
#include "win32_common/binary_file.h"
#include "win32_common/service_setup.h"
#include "win32_common/system_directories.h"

namespace {

// One of the older header lines the product has used.
const char* const kEarlierHeader = InfHeaderLines[2];
constexpr char kEarlierDriverVersion[] = "03/01/2002,0.9.0.0";

bool Report(const std::string& what, DWORD error) {
    if (error == ERROR_SUCCESS) {
        printf("  %s\n", what.c_str());
    } else {
        printf("  %s: FAILED, err=%lu (0x%lx)\n", what.c_str(), static_cast<unsigned long>(error),
               static_cast<unsigned long>(error));
    }
    fflush(stdout);
    return error == ERROR_SUCCESS;
}

// Where that release's installer staged the family's INF, with the precompiled file the
// INF store keeps beside it.
bool WriteStagedCopy(const DemoFamily& family, const std::string& name) {
    const std::string store = kvxwin::WindowsDirectory() + InfSubdirectory;
    const bool written =
        kvxwin::WriteBinaryFile(store + name + ".inf",
                                DemoInfText(family, kEarlierHeader, kEarlierDriverVersion)) &&
        kvxwin::WriteBinaryFile(store + name + ".pnf", "PNF");
    return Report("staged INF of the earlier release " + store + name + ".inf",
                  written ? ERROR_SUCCESS : GetLastError());
}

// Services the earlier release created; one left by an earlier run of the demo counts.
DWORD CreateDriverService(const char* name, const std::string& image_path) {
    const DWORD error =
        kvxwin::CreateDemandStartService(name, SERVICE_KERNEL_DRIVER, image_path, false);
    return error == ERROR_SERVICE_EXISTS ? ERROR_SUCCESS : error;
}

}  // namespace

bool InstallEarlierRelease() {
    bool all_done = true;
    int number = 7;
    for (const DemoFamily& family : DemoFamilies()) {
        all_done = WriteStagedCopy(family, "oem" + std::to_string(number++)) && all_done;
        // Its driver services, left without boards using them.
        const std::string binary = std::string("system32\\drivers\\") + family.binary;
        all_done = Report(std::string("service ") + family.service + " -> " + binary,
                          CreateDriverService(family.service, binary)) &&
                   all_done;
    }

    // The release before it ran its HX boards under another service name and binary.
    const std::string old_binary = std::string("system32\\drivers\\") + HxDriverBinary;
    all_done = Report(std::string("service ") + HxFirstServiceName + " -> " + old_binary,
                      CreateDriverService(HxFirstServiceName, old_binary)) &&
               all_done;
    all_done = Report(std::string("event-log source ") + HxFirstServiceName,
                      kvxwin::CreateEventLogSource(HxFirstServiceName)) &&
               all_done;
    const std::string drivers = kvxwin::SystemDirectory() + DriversSubdirectory;
    for (const char* binary : {HxDriverBinary, Dz4xDriverBinary, HxhwDriverBinary}) {
        const bool written = kvxwin::WriteBinaryFile(drivers + binary, "MZ");
        all_done =
            Report("driver binary " + drivers + binary, written ? ERROR_SUCCESS : GetLastError()) &&
            all_done;
    }
    const std::string product_inf = kvxwin::WindowsDirectory() + InfSubdirectory + ProductInfName;
    const bool written =
        kvxwin::WriteBinaryFile(product_inf, std::string(kEarlierHeader) + "[Version]\r\n");
    return Report("product INF " + product_inf, written ? ERROR_SUCCESS : GetLastError()) &&
           all_done;
}
