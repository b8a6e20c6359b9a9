// Files that a privileged run writes at a path someone else may have prepared: a link put
// there beforehand would have the run write wherever it points, with the run's rights.
#pragma once

#include <windows.h>

#include <string>

enum class FileStart {
    kFresh,   // What is at the path is deleted first; the file is created anew.
    kAppend,  // What is at the path is written on, or the file is created.
};

// Opens PATH for ACCESS, sharing SHARE, only when what is there is a file with this one name:
// a reparse point (a symbolic link, a mount point) or a file with a second name (a hard
// link) is refused, with ERROR_ACCESS_DENIED and the reason in *refusal. The checks are made
// on the handle that is then written through, so nothing can be swapped in between.
// INVALID_HANDLE_VALUE on failure, with the system's error in *error.
HANDLE OpenOwnFile(const std::string& path, FileStart start, DWORD access, DWORD share,
                   DWORD* error, std::string* refusal);
