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
