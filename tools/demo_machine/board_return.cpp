#include "board_return.h"

#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <string>

#include "catalog/catalog.h"
#include "demo_boards.h"
#include "win32_common/root_device.h"

namespace {

std::string Field(INFCONTEXT* line, DWORD index) {
    char text[512] = {};
    if (!SetupGetStringFieldA(line, index, text, sizeof text, nullptr)) return "";
    return text;
}

bool ListsId(HINF inf, const std::string& id) {
    INFCONTEXT manufacturer;
    for (BOOL more = SetupFindFirstLineA(inf, "Manufacturer", nullptr, &manufacturer); more;
         more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        const std::string models = Field(&manufacturer, 1);
        INFCONTEXT line;
        for (BOOL model = SetupFindFirstLineA(inf, models.c_str(), nullptr, &line); model;
             model = SetupFindNextLine(&line, &line)) {
            const DWORD count = SetupGetFieldCount(&line);
            for (DWORD index = 2; index <= count; ++index) {
                if (lstrcmpiA(Field(&line, index).c_str(), id.c_str()) == 0) return true;
            }
        }
    }
    return false;
}

// Plug and Play's choice for a board found again: a staged INF of the product's provider
// that names one of its IDs, most specific ID first.
bool FindStagedDriver(const DemoBoard& board, std::string* inf_path, std::string* id) {
    char windows[MAX_PATH] = {};
    if (!GetWindowsDirectoryA(windows, sizeof windows)) return false;
    const std::string folder = std::string(windows) + "\\inf\\";
    for (const std::string& wanted : board.hardware_ids) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "*.inf").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        bool listed = false;
        do {
            const std::string path = folder + found.cFileName;
            HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
            if (inf == INVALID_HANDLE_VALUE) continue;
            INFCONTEXT provider;
            listed = SetupFindFirstLineA(inf, "Version", "Provider", &provider) &&
                     Field(&provider, 1) == DriverProviderName && ListsId(inf, wanted);
            SetupCloseInfFile(inf);
            if (listed) {
                *inf_path = path;
                *id = wanted;
            }
        } while (!listed && FindNextFileA(search, &found));
        FindClose(search);
        if (listed) return true;
    }
    return false;
}

}  // namespace

int BringBackRemovedBoards() {
    int returned = 0;
    for (const DemoBoard& board : DemoBoards()) {
        const DWORD error = kvxwin::RegisterRootDevice(board.name, board.hardware_ids);
        if (error != ERROR_SUCCESS) continue;
        ++returned;
        printf("  board %s: back, ", kvxwin::RootInstanceId(board.name).c_str());
        std::string inf;
        std::string id;
        if (!FindStagedDriver(board, &inf, &id)) {
            printf("no staged driver for it\n");
        } else if (UpdateDriverForPlugAndPlayDevicesA(nullptr, id.c_str(), inf.c_str(),
                                                      INSTALLFLAG_FORCE, nullptr)) {
            printf("driver from %s\n", inf.c_str());
        } else {
            const DWORD update_error = GetLastError();
            printf("FAILED to install the driver from %s, err=%lu\n", inf.c_str(),
                   static_cast<unsigned long>(update_error));
        }
        fflush(stdout);
    }
    return returned;
}

void WatchForRemovedBoards(unsigned long seconds, unsigned long interval_ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
        BringBackRemovedBoards();
        Sleep(interval_ms);
    }
}
