#include "run_lock.h"

HANDLE TakeRunLock(DWORD* error) {
    *error = ERROR_SUCCESS;
    char held[8];
    if (GetEnvironmentVariableA(kRunLockHeldVariable, held, sizeof held) != 0) return nullptr;
    // Existence is what counts, not ownership: the holder keeps its handle open until it
    // ends, and the system closes it even when the holder is killed.
    HANDLE lock = CreateMutexA(nullptr, FALSE, kRunLockName);
    const DWORD created = GetLastError();
    if (!lock) {
        *error = created;
        return nullptr;
    }
    if (created == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        *error = ERROR_INSTALL_ALREADY_RUNNING;
        return nullptr;
    }
    return lock;
}

void ReleaseRunLock(HANDLE lock) {
    if (lock) CloseHandle(lock);
}
