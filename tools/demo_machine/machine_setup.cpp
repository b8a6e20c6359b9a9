#include "machine_setup.h"

#include <windows.h>
#include <setupapi.h>

#include <cstdio>

#include "catalog/catalog.h"
#include "demo_boards.h"
#include "win32_common/binary_file.h"
#include "win32_common/root_device.h"
#include "win32_common/system_directories.h"

bool RegisterDemoBoards() {
    bool all_there = true;
    for (const DemoBoard& board : DemoBoards()) {
        const DWORD error = kvxwin::RegisterRootDevice(board.name, board.hardware_ids);
        printf("  board %s: ", kvxwin::RootInstanceId(board.name).c_str());
        if (error == ERROR_SUCCESS) {
            printf("registered, no driver, hardware IDs:\n");
            for (const std::string& id : board.hardware_ids) printf("      %s\n", id.c_str());
        } else if (error == static_cast<DWORD>(ERROR_DEVINST_ALREADY_EXISTS)) {
            printf("already registered, left as it is\n");
        } else {
            printf("FAILED, err=%lu (0x%lx)\n", static_cast<unsigned long>(error),
                   static_cast<unsigned long>(error));
            all_there = false;
        }
    }
    fflush(stdout);
    return all_there;
}

bool WriteDemoInfs(const std::string& folder) {
    const std::string directory = kvxwin::WithBackslash(folder);
    CreateDirectoryA(directory.c_str(), nullptr);
    bool all_written = true;
    for (const DemoFamily& family : DemoFamilies()) {
        const std::string path = directory + family.inf_file;
        // The newest of the product's header lines, so that the INF store clean-up knows it.
        const bool written = kvxwin::WriteBinaryFile(
            path, DemoInfText(family, InfHeaderLines[std::size(InfHeaderLines) - 1],
                              "06/01/2004,1.0.0.0"));
        printf("  INF %s: %s (service %s, binary %s, %u hardware IDs)\n", path.c_str(),
               written ? "written" : "FAILED to write", family.service, family.binary,
               static_cast<unsigned>(family.hardware_ids.size()));
        all_written = all_written && written;
    }
    fflush(stdout);
    return all_written;
}
