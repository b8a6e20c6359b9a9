#include "machine_setup.h"

#include <windows.h>
#include <setupapi.h>

#include <cstdio>

#include "demo_boards.h"

namespace {

// The System setup class, which the demo INFs name as well.
constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Registers one board in a device list of its own. Returns 0, or the error of the step that
// failed.
DWORD RegisterBoard(HDEVINFO set, const DemoBoard& board) {
    const std::string instance_id = std::string("Root\\") + board.name + "\\0000";
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set, instance_id.c_str(), &kSystemClass, nullptr, nullptr, 0,
                                  &device)) {
        return GetLastError();
    }
    std::string ids;
    for (const std::string& id : board.hardware_ids) ids += id + '\0';
    ids += '\0';
    if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size())) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

}  // namespace

bool RegisterDemoBoards() {
    bool all_there = true;
    for (const DemoBoard& board : DemoBoards()) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, nullptr);
        const DWORD error =
            set == INVALID_HANDLE_VALUE ? GetLastError() : RegisterBoard(set, board);
        if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
        printf("  board Root\\%s\\0000: ", board.name);
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
    std::string directory = folder;
    if (directory.empty() || directory.back() != '\\') directory += '\\';
    CreateDirectoryA(directory.c_str(), nullptr);
    bool all_written = true;
    for (const DemoFamily& family : DemoFamilies()) {
        const std::string path = directory + family.inf_file;
        const bool written = WriteTextFile(path, DemoInfText(family));
        printf("  INF %s: %s (service %s, binary %s, %u hardware IDs)\n", path.c_str(),
               written ? "written" : "FAILED to write", family.service, family.binary,
               static_cast<unsigned>(family.hardware_ids.size()));
        all_written = all_written && written;
    }
    fflush(stdout);
    return all_written;
}
