// The system's own copies of the DLLs the module imports. Windows 2000 and XP do not count
// setupapi.dll and newdev.dll among the KnownDLLs: a process that loads the module would
// search its own program's folder for them first, where anyone who can write there (a
// download folder, a stick) can put a DLL of that name.
#pragma once

#include <windows.h>

#include <string>

// Takes the current folder out of the DLL search where the system can (SetDllDirectoryA,
// XP SP1 and later), then loads setupapi.dll and newdev.dll by their full paths in the
// system folder, so that the module's imports bind to those. They stay loaded for the life
// of the process. ERROR_SUCCESS, or the error of the first that could not be loaded, with
// its path in *path.
DWORD LoadSetupDllsFromSystemFolder(std::string* path);

// Tells SetupAPI not to show any dialog in this process ("Files Needed" and the like), so
// that what is missing fails instead of waiting for a person who is not there. Windows XP
// and later have the call; false where the system lacks it.
bool UseSetupApiNonInteractively();
