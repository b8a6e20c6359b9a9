// What a real run leaves for the next restart to finish, noted as the calls return.
#pragma once

#include <windows.h>

#include <string>

// A service the module deleted, or tried to while it was marked for deletion: still
// registered after the run, it goes only once the system lets go of it.
void NoteServiceDeletion(const std::string& name);

// A device whose removal or driver update the system finishes only at restart.
void NoteDeviceRestart(const std::string& device);

void ForgetRestartNotes();

// A file the module could not delete because it is in use: whether it goes at the restart
// is decided once the run is over, when it is known whether the install put it back. Its
// precompiled INF, for an INF, goes with it.
void HoldBackDeletion(const std::string& path, DWORD error);
bool DeletionHeldBack(const std::string& path);

// A file the run put on the machine: a staged INF (with its precompiled INF), or a file a
// driver package copies.
void NotePutBack(const std::string& path);

// After a driver update from the INF: each file its install section copies for the
// hardware ID counts as put back, and one in use that is not the package's file is
// written beside its target and renamed over it at the restart.
void ScheduleReplacementsFrom(const char* inf, const char* hardware_id);

void ForgetRestartFiles();

// Whether the open service was deleted while something held it: Windows records the mark
// in the service's key; where it does not, a configuration change that changes nothing is
// refused with ERROR_SERVICE_MARKED_FOR_DELETE. The handle needs SERVICE_CHANGE_CONFIG.
bool MarkedForDeletion(SC_HANDLE service, const std::string& name);
