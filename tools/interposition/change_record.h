// The changes kept while the module runs, shared by the preview's and the real run's
// replacements.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "interposition/machine_changes.h"

// In the order the report lists them.
enum class Change {
    kServiceStopped,
    kServiceDeleted,
    kDeviceRemoved,
    kFileDeleted,
    kFileScheduled,
    kFileDeletePending,  // Deleted, but there until the other handles open on it close.
    kFileReplaced,
    kRegistryKeyDeleted,
    kInfStaged,
    kDriverUpdated,
    kDevicesReenumerated,
    kOther,  // A change the module's sequences do not make; kept all the same.
};

InterpositionMode CurrentMode();
void SetMode(InterpositionMode mode);

// Each change counts once per outcome, whatever the letter case of its names (the system
// ignores it): a device the preview leaves in place is asked for again by a later walk.
void RecordChange(Change change, const std::string& what, DWORD error = ERROR_SUCCESS);
// Whether the change was made (or, in a preview, would have been).
bool WasRecorded(Change change, const std::string& what);

// A file or key the module asked to read and could not open for another reason than its
// absence: it left that object alone, whatever it was.
void RecordSkip(const std::string& what, DWORD error);

// Every object of one kind that was changed, for the reads that must see it gone.
std::vector<std::string> RecordedObjects(Change change);

// Names as the report shows them: forward slashes, which some platforms report in INF
// paths, turned into backslashes.
std::string ShownPath(const char* path);

// "HKLM\SYSTEM\..." for a key under a root key; an open key of the module's own shows as
// such, since Windows 2000 cannot name it.
std::string KeyName(HKEY key, const char* subkey);

// An open that writes, or may create or truncate, the file.
bool OpensForWriting(DWORD access, DWORD disposition);

// Service handles the module opened, with the names it opened them by: the system cannot
// name a service from its handle on Windows 2000.
SC_HANDLE WINAPI RememberOpenService(SC_HANDLE manager, LPCSTR name, DWORD access);
std::string ServiceNameOf(SC_HANDLE service);

// A device as the report names it: its instance ID and the catalogue's hardware ID it
// matches, or its first hardware ID.
std::string DeviceName(HDEVINFO set, SP_DEVINFO_DATA* device);
