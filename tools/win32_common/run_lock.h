// One run at a time on a machine. The setup program, its uninstaller, the MSI packages'
// driver actions and the console host's changing commands all take the same named mutex:
// two runs at once would remove each other's drivers half-way and write one log between
// them. scripts/build-installer reads the name from here for the setup program.
#pragma once

#include <windows.h>

// In the global namespace, so that a run in another session (a deployment tool's service,
// a remote desktop) counts too.
inline constexpr char kRunLockName[] = "Global\\KavexaKvxBoardDriversRun";

// Set by a run that holds the lock in the environment of the programs it starts to do its
// work (the setup program starts the console host on 64-bit Windows): those work for the
// run that holds it, and must not wait for it.
inline constexpr char kRunLockHeldVariable[] = "KVX_RUN_LOCK_HELD";

// The lock, or nullptr with ERROR_INSTALL_ALREADY_RUNNING in *error when another run holds
// it (or the system's error when it cannot be made). A program started by the holder gets
// a null lock and ERROR_SUCCESS: nothing to release.
HANDLE TakeRunLock(DWORD* error);

// Releases what TakeRunLock returned; nullptr is allowed.
void ReleaseRunLock(HANDLE lock);
