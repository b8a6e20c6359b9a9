#include "foreign_devices.h"

#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win32_common/root_device.h"

bool RegisterForeignDevices(int count) {
    const DWORD started = GetTickCount();
    int registered = 0;
    for (int n = 0; n < count; ++n) {
        char name[32];
        snprintf(name, sizeof name, "BENCHDEV%05d", n);
        char subsystem[64];
        snprintf(subsystem, sizeof subsystem, "PCI\\VEN_10EC&DEV_8139&SUBSYS_%04X10EC", n & 0xFFFF);
        const std::vector<std::string> ids = {subsystem, "PCI\\VEN_10EC&DEV_8139"};
        const DWORD error = kvxwin::RegisterRootDevice(name, ids, "BenchNic");
        if (error == ERROR_SUCCESS) {
            ++registered;
        } else if (error != static_cast<DWORD>(ERROR_DEVINST_ALREADY_EXISTS)) {
            fprintf(stderr, "kvx_wine_bench: %s could not be registered, err=%lu\n", name,
                    static_cast<unsigned long>(error));
            return false;
        }
    }
    printf("registered %d devices that are not the product's in %lu ms\n", registered,
           static_cast<unsigned long>(GetTickCount() - started));
    return true;
}
