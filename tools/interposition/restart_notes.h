// What a real run leaves for the next restart to finish, noted as the calls return.
#pragma once

#include <windows.h>

#include <string>

// A service the module deleted, or tried to while it was marked for deletion: still
// registered after the run, it goes only once the system lets go of it.
void NoteServiceDeletion(const std::string& name);

// The module closed a handle to the service: a deleted one that is gone then needs no
// restart, even if something creates one of the same name later in the run.
void NoteServiceHandleClosed(const std::string& name);

// A device whose removal or driver update the system finishes only at restart.
void NoteDeviceRestart(const std::string& device);

void ForgetRestartNotes();

// Whether the service was deleted while something held it, read from the mark the system
// records in the service's key. Only read: a configuration call that changes nothing would
// tell as well, but some service managers rewrite the service's key from their own copy.
bool MarkedForDeletion(const std::string& name);

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
