// host_test_machine: puts into the current Wine prefix what the host tests need beside the
// demo machine: devices, services, a second debug-output viewer and a busy log writer. Some
// devices and services are the product's and some another product's, which the host must
// leave out of its listings.
//
//   host_test_machine STEP [STEP...]
//     device NAME SERVICE ID[,ID...]   root device Root\NAME\0000 ("-": no service)
//     driver-service NAME IMAGE_PATH   kernel driver service, demand start, not started
//     running-service NAME BINARY      own-process service, started and running
//     other-viewer SECONDS             own the debug-output channel for that long
//     debug-lines                      print the process ID, then write three debug lines
//     log-lines FILE COUNT             append COUNT numbered lines to FILE as the host's --log
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvxsetup/run_log.h"
#include "win32_common/root_device.h"
#include "win32_common/service_setup.h"

namespace {

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

bool AddDevice(const char* name, const char* service, const char* ids) {
    const std::string driver_service = strcmp(service, "-") == 0 ? "" : service;
    const DWORD error = kvxwin::RegisterRootDevice(name, SplitAtCommas(ids), driver_service);
    if (error != ERROR_SUCCESS) fprintf(stderr, "device %s: err=%lu\n", name, error);
    return error == ERROR_SUCCESS;
}

bool AddService(const char* name, DWORD type, const std::string& command, bool start) {
    const DWORD error = kvxwin::CreateDemandStartService(name, type, command, start);
    if (error != ERROR_SUCCESS) fprintf(stderr, "service %s: err=%lu\n", name, error);
    return error == ERROR_SUCCESS;
}

// A viewer that takes every write and shows none of them, so that writers never wait.
bool BeOtherViewer(DWORD seconds) {
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    HANDLE buffer_ready = CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY");
    HANDLE data_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    if (!mapping || !buffer_ready || !data_ready) return false;
    printf("viewing\n");
    fflush(stdout);
    const DWORD until = GetTickCount() + seconds * 1000;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        if (WaitForSingleObject(data_ready, 100) == WAIT_OBJECT_0) SetEvent(buffer_ready);
    }
    return true;
}

// The middle line is written in pieces, as the module writes some of its lines.
bool WriteDebugLines() {
    printf("%lu\n", GetCurrentProcessId());
    fflush(stdout);
    OutputDebugStringA("watched line 1\n");
    OutputDebugStringA("watched ");
    OutputDebugStringA("line 2\n");
    OutputDebugStringA("watched line 3\n");
    return true;
}

// Many lines in a burst, so that runs started together really do write at the same moment.
bool LogNumberedLines(const char* path, int count) {
    if (OpenRunLog(path) != ERROR_SUCCESS) return false;
    for (int i = 1; i <= count; ++i) {
        LogLine(GetCurrentProcessId(), "numbered line " + std::to_string(i));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc;) {
        const std::string step = argv[i];
        const int left = argc - i - 1;
        bool done = false;
        if (step == "device" && left >= 3) {
            done = AddDevice(argv[i + 1], argv[i + 2], argv[i + 3]);
            i += 4;
        } else if (step == "driver-service" && left >= 2) {
            done = AddService(argv[i + 1], SERVICE_KERNEL_DRIVER, argv[i + 2], false);
            i += 3;
        } else if (step == "running-service" && left >= 2) {
            done = AddService(argv[i + 1], SERVICE_WIN32_OWN_PROCESS,
                              std::string("\"") + argv[i + 2] + "\"", true);
            i += 3;
        } else if (step == "other-viewer" && left >= 1) {
            done = BeOtherViewer(static_cast<DWORD>(atoi(argv[i + 1])));
            i += 2;
        } else if (step == "debug-lines") {
            done = WriteDebugLines();
            i += 1;
        } else if (step == "log-lines" && left >= 2) {
            done = LogNumberedLines(argv[i + 1], atoi(argv[i + 2]));
            i += 3;
        } else {
            fprintf(stderr, "host_test_machine: bad step \"%s\"\n", step.c_str());
            return 2;
        }
        if (!done) return 1;
    }
    return 0;
}
