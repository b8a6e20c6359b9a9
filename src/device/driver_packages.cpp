#include "device/driver_packages.h"

#include "common/case_insensitive.h"
#include "common/path_join.h"
#include "entry/trace.h"

static void DeleteDriverInf(HDEVINFO devices, SP_DEVINFO_DATA* device, SP_DRVINFO_DATA_V2_A* driver,
                            char (&message)[kTraceBufferSize]) {
    SP_DRVINFO_DETAIL_DATA_A detail = {};
    detail.cbSize = sizeof detail;
    DWORD required = sizeof detail;
    if (!SetupDiGetDriverInfoDetailA(devices, device, driver, &detail, sizeof detail, &required)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            Trace(message, "SetupDiGetDriverInfoDetail failed, err=%d\n", static_cast<int>(error));
            return;
        }
        // Only the trailing hardware-ID list did not fit; the names are filled.
        Trace(message, "SetupDiGetDriverInfoDetail actual size = %d, required=%d\n",
              static_cast<int>(sizeof detail), static_cast<int>(required));
    }
    detail.InfFileName[sizeof detail.InfFileName - 1] = '\0';
    detail.SectionName[sizeof detail.SectionName - 1] = '\0';
    Trace(message, "InfFileName=\"%s\", section=\"%s\"\n", detail.InfFileName, detail.SectionName);
    if (!DeleteFileA(detail.InfFileName)) {
        const DWORD error = GetLastError();
        Trace(message, "DeleteFile failed, err=%d\n", static_cast<int>(error));
        return;
    }
    // The precompiled INF is worthless without its INF, and once the INF is gone the INF
    // store clean-up no longer finds it.
    if (ToPrecompiledInfPath(detail.InfFileName)) DeleteFileA(detail.InfFileName);
}

bool RemoveDriverPackages(HDEVINFO devices, SP_DEVINFO_DATA* device, const char* providerName) {
    char message[kTraceBufferSize];
    if (!SetupDiBuildDriverInfoList(devices, device, SPDIT_COMPATDRIVER)) {
        const DWORD error = GetLastError();
        Trace(message, "SetupDiBuildDriverInfoList failed, err=%d\n", static_cast<int>(error));
        return false;
    }

    SP_DRVINFO_DATA_V2_A driver = {};
    for (DWORD index = 0;; ++index) {
        driver.cbSize = sizeof driver;
        if (!SetupDiEnumDriverInfoA(devices, device, SPDIT_COMPATDRIVER, index, &driver)) break;
        driver.Description[sizeof driver.Description - 1] = '\0';
        driver.ProviderName[sizeof driver.ProviderName - 1] = '\0';
        Trace(message, "Driver %d: desc=\"%s\" provider=\"%s\"\n", static_cast<int>(index),
              driver.Description, driver.ProviderName);
        if (!EqualsIgnoreCase(driver.ProviderName, providerName)) continue;
        Trace(message, "Driver provider matches\n");
        DeleteDriverInf(devices, device, &driver, message);
    }
    const DWORD ended = GetLastError();
    Trace(message, "Last Error: %x(%d)\n", static_cast<unsigned>(ended), static_cast<int>(ended));

    SetupDiDestroyDriverInfoList(devices, device, SPDIT_COMPATDRIVER);
    return true;
}
