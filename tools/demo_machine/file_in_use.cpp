#include "file_in_use.h"

#include <windows.h>

#include <cstdio>

unsigned long HoldFileOpen(const char* path, unsigned long seconds) {
    // No sharing at all: a delete fails with ERROR_SHARING_VIOLATION while it is held.
    const HANDLE file =
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        printf("  %s: FAILED to open, err=%lu\n", path, static_cast<unsigned long>(error));
        fflush(stdout);
        return error;
    }
    printf("  %s: held open for %lu s\n", path, seconds);
    fflush(stdout);
    Sleep(seconds * 1000);
    CloseHandle(file);
    return ERROR_SUCCESS;
}
