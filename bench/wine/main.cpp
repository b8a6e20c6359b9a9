// kvx_wine_bench: prepares a Wine prefix for the removal's scaling benchmark and times the
// removal in it. bench/wine-scaling drives it; each subcommand runs in the prefix at hand.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foreign_devices.h"
#include "module_exports.h"
#include "removal_profile.h"
#include "removal_timing.h"

namespace {

void PrintUsage(FILE* to) {
    fprintf(to,
            "usage: kvx_wine_bench register COUNT     register COUNT root devices that are\n"
            "                                         not the product's\n"
            "       kvx_wine_bench install FIRST SECOND\n"
            "                                         install both families with\n"
            "                                         KVXSetup_PnPInstallKVX\n"
            "       kvx_wine_bench time [SETTLE_MS]   time one KVXSetup_PnPRemoveKVX after\n"
            "                                         SETTLE_MS (default 3000)\n"
            "       kvx_wine_bench profile [SETTLE_MS]\n"
            "                                         run it once with its trace timestamped:\n"
            "                                         the time of each kind of step\n"
            "KVXSETUPW2K.dll is loaded from this program's folder. Exit code: 0 when done,\n"
            "1 when a step failed, 2 on a usage error.\n");
}

int Install(const char* first, const char* second) {
    ModuleExports exports;
    if (!LoadModuleExports(&exports)) return 1;
    const DWORD result = exports.installKvx(first, second);
    UnloadModuleExports(&exports);
    printf("KVXSetup_PnPInstallKVX returned %lu\n", static_cast<unsigned long>(result));
    return result == ERROR_SUCCESS ? 0 : 1;
}

int Time(bool profile, DWORD settleMs) {
    ModuleExports exports;
    if (!LoadModuleExports(&exports)) return 1;
    const bool removed =
        profile ? ProfileRemoval(exports, settleMs) : TimeRemoval(exports, settleMs);
    UnloadModuleExports(&exports);
    return removed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--help" || mode == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (mode == "register" && argc == 3) return RegisterForeignDevices(atoi(argv[2])) ? 0 : 1;
    if (mode == "install" && argc == 4) return Install(argv[2], argv[3]);
    if ((mode == "time" || mode == "profile") && argc <= 3) {
        return Time(mode == "profile",
                    argc == 3 ? static_cast<DWORD>(strtoul(argv[2], nullptr, 10)) : 3000);
    }
    PrintUsage(stderr);
    return 2;
}
