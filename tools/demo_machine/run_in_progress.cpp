#include "run_in_progress.h"

#include <windows.h>

#include <cstdio>

#include "win32_common/run_lock.h"

unsigned long HoldRunLock(unsigned long seconds) {
    DWORD error = ERROR_SUCCESS;
    HANDLE lock = TakeRunLock(&error);
    if (!lock) {
        printf("  %s: FAILED to take, err=%lu\n", kRunLockName, static_cast<unsigned long>(error));
        fflush(stdout);
        return error == ERROR_SUCCESS ? ERROR_INVALID_STATE : error;
    }
    printf("  %s: held for %lu s\n", kRunLockName, seconds);
    fflush(stdout);
    Sleep(seconds * 1000);
    ReleaseRunLock(lock);
    return ERROR_SUCCESS;
}
