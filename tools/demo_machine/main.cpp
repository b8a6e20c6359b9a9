// demo_machine: turns the current Wine prefix into a customer's machine with the product's
// boards but no drivers and the remains of an earlier release, and writes the demo INFs.
// `kvxsetup inventory` shows the machine.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "board_return.h"
#include "earlier_installation.h"
#include "file_in_use.h"
#include "run_in_progress.h"
#include "machine_setup.h"

namespace {

void PrintUsage(FILE* to) {
    fprintf(to,
            "usage: demo_machine boards         register the demo boards (no drivers)\n"
            "       demo_machine setup FOLDER   register the demo boards (no drivers) and\n"
            "                                   write the two demo INFs into FOLDER\n"
            "       demo_machine earlier        leave the remains of an earlier release:\n"
            "                                   staged INFs, services, driver binaries\n"
            "       demo_machine hold FILE SECONDS  keep FILE open without sharing, as a\n"
            "                                   driver in use is, for SECONDS\n"
            "       demo_machine rescan         bring back the boards a removal took off,\n"
            "                                   with the driver staged for them, as a\n"
            "                                   real PCI bus's rescan does\n"
            "       demo_machine rescan SECONDS rescan every 100 ms for SECONDS\n"
            "       demo_machine hold-run SECONDS  hold the setup's run lock, as a run in\n"
            "                                   progress does, for SECONDS\n"
            "Exit code: 0 when done, 1 when a step failed, 2 on a usage error.\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--help" || mode == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    // The product installer brings its own driver packages: the boards are all it needs.
    if (mode == "boards" && argc == 2) {
        printf("Demo machine:\n");
        return RegisterDemoBoards() ? 0 : 1;
    }
    if (mode == "setup" && argc == 3) {
        printf("Demo machine:\n");
        const bool boards = RegisterDemoBoards();
        const bool infs = WriteDemoInfs(argv[2]);
        return boards && infs ? 0 : 1;
    }
    if (mode == "earlier" && argc == 2) {
        printf("Earlier release of the product:\n");
        return InstallEarlierRelease() ? 0 : 1;
    }
    if (mode == "hold" && argc == 4) {
        printf("File in use:\n");
        return HoldFileOpen(argv[2], strtoul(argv[3], nullptr, 10)) == 0 ? 0 : 1;
    }
    if (mode == "rescan" && argc == 2) {
        printf("Rescan:\n");
        BringBackRemovedBoards();
        return 0;
    }
    if (mode == "rescan" && argc == 3) {
        printf("Rescan every 100 ms:\n");
        WatchForRemovedBoards(strtoul(argv[2], nullptr, 10), 100);
        return 0;
    }
    if (mode == "hold-run" && argc == 3) {
        printf("Setup run in progress:\n");
        return HoldRunLock(strtoul(argv[2], nullptr, 10)) == 0 ? 0 : 1;
    }
    PrintUsage(stderr);
    return 2;
}
