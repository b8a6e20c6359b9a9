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
//     stopping-service NAME BINARY     own-process service stuck in stop pending
//     marked-service NAME SECONDS      delete the service while holding it that long, so that
//                                      it stays, marked for deletion as Windows NT marks it
//     hold-open FILE SECONDS           keep FILE open for that long, sharing only reads
//     hold-deletable FILE SECONDS      the same, sharing reads and deletion
//     dependent-service NAME BINARY ON own-process service depending on service ON, started
//     read-only FILE                   set FILE's read-only attribute
//     subkey KEY                       create HKLM\KEY\Kept, so that KEY has a subkey
//     pending-deletions                print the files scheduled for deletion at restart
//
// The steps that hold something print "holding" once they do, for the test to wait on.
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
    std::string refusal;
    if (OpenRunLog(path, &refusal) != ERROR_SUCCESS) return false;
    for (int i = 1; i <= count; ++i) {
        LogLine(GetCurrentProcessId(), "numbered line " + std::to_string(i));
    }
    return true;
}

void SayHolding() {
    printf("holding\n");
    fflush(stdout);
}

// Waits a few seconds at most for the service to reach `state`.
bool Reaches(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status = {};
    for (int i = 0; i < 50; ++i) {
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == state) return true;
        Sleep(100);
    }
    return false;
}

// A service of that name already there (stopped) is given the stuck binary instead.
bool StartStuckInStopPending(const char* name, const char* binary) {
    const std::string command = std::string("\"") + binary + "\" stays-stopping";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr;
    if (!service) {
        if (manager) CloseServiceHandle(manager);
        if (!AddService(name, SERVICE_WIN32_OWN_PROCESS, command, true)) return false;
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        service = manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr;
    } else if (!ChangeServiceConfigA(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                     SERVICE_NO_CHANGE, command.c_str(), nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr) ||
               !StartServiceA(service, 0, nullptr)) {
        fprintf(stderr, "service %s: err=%lu\n", name, GetLastError());
    }
    SERVICE_STATUS status = {};
    bool pending = service && Reaches(service, SERVICE_RUNNING) &&
                   ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; pending && i < 50 && status.dwCurrentState != SERVICE_STOP_PENDING; ++i) {
        Sleep(100);
        pending = QueryServiceStatus(service, &status);
    }
    pending = pending && status.dwCurrentState == SERVICE_STOP_PENDING;
    if (!pending) fprintf(stderr, "service %s: not stop pending\n", name);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return pending;
}

bool HoldMarkedService(const char* name, DWORD seconds) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, DELETE) : nullptr;
    const bool marked = service && DeleteService(service);
    if (!marked) fprintf(stderr, "service %s: err=%lu\n", name, GetLastError());
    // Windows NT records the mark in the service's key, where a reader can see it; Wine
    // keeps it in its service manager only.
    const std::string key = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name;
    HKEY opened = nullptr;
    if (marked && RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &opened) ==
                      ERROR_SUCCESS) {
        const DWORD flag = 1;
        RegSetValueExA(opened, "DeleteFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag),
                       sizeof flag);
        RegCloseKey(opened);
    }
    if (marked) {
        SayHolding();
        Sleep(seconds * 1000);
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return marked;
}

bool HoldOpen(const char* path, DWORD seconds, DWORD sharing) {
    HANDLE file = CreateFileA(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "%s: err=%lu\n", path, GetLastError());
        return false;
    }
    SayHolding();
    Sleep(seconds * 1000);
    CloseHandle(file);
    return true;
}

// Started after the service it depends on, which must run already. The wide call: Wine's
// ANSI one stores the dependency list with bytes from past its end.
bool StartDependent(const char* name, const char* binary, const char* depends_on) {
    const auto wide = [](const std::string& text) {
        return std::wstring(text.begin(), text.end());
    };
    const std::wstring service_name = wide(name);
    const std::wstring command = wide(std::string("\"") + binary + "\"");
    const std::wstring dependencies = wide(depends_on) + L'\0';
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        manager ? CreateServiceW(manager, service_name.c_str(), service_name.c_str(),
                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                 nullptr, nullptr, dependencies.c_str(), nullptr, nullptr)
                : nullptr;
    const bool started =
        service && StartServiceW(service, 0, nullptr) && Reaches(service, SERVICE_RUNNING);
    if (!started) fprintf(stderr, "service %s: err=%lu\n", name, GetLastError());
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return started;
}

bool MakeReadOnly(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesA(path, attributes | FILE_ATTRIBUTE_READONLY);
}

bool AddSubkey(const char* key) {
    HKEY created = nullptr;
    const std::string path = std::string(key) + "\\Kept";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &created, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(created);
    return true;
}

// The list holds pairs of names, source then target; an empty target deletes the source.
bool PrintPendingDeletions() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<char> list(65536);
    DWORD size = static_cast<DWORD>(list.size() - 2);
    const bool read =
        RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(list.data()), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read) return true;
    for (const char* at = list.data(); *at;) {
        const char* target = at + strlen(at) + 1;
        if (!*target) printf("%s\n", at);
        if (!*target) {
            at = target + 1;
        } else {
            at = target + strlen(target) + 1;
        }
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
        } else if (step == "stopping-service" && left >= 2) {
            done = StartStuckInStopPending(argv[i + 1], argv[i + 2]);
            i += 3;
        } else if (step == "marked-service" && left >= 2) {
            done = HoldMarkedService(argv[i + 1], static_cast<DWORD>(atoi(argv[i + 2])));
            i += 3;
        } else if (step == "hold-open" && left >= 2) {
            done = HoldOpen(argv[i + 1], static_cast<DWORD>(atoi(argv[i + 2])), FILE_SHARE_READ);
            i += 3;
        } else if (step == "hold-deletable" && left >= 2) {
            done = HoldOpen(argv[i + 1], static_cast<DWORD>(atoi(argv[i + 2])),
                            FILE_SHARE_READ | FILE_SHARE_DELETE);
            i += 3;
        } else if (step == "dependent-service" && left >= 3) {
            done = StartDependent(argv[i + 1], argv[i + 2], argv[i + 3]);
            i += 4;
        } else if (step == "read-only" && left >= 1) {
            done = MakeReadOnly(argv[i + 1]);
            i += 2;
        } else if (step == "subkey" && left >= 1) {
            done = AddSubkey(argv[i + 1]);
            i += 2;
        } else if (step == "pending-deletions") {
            done = PrintPendingDeletions();
            i += 1;
        } else {
            fprintf(stderr, "host_test_machine: bad step \"%s\"\n", step.c_str());
            return 2;
        }
        if (!done) return 1;
    }
    return 0;
}
