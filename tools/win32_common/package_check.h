// What an install checks before it takes anything off the machine: an install that removes
// the earlier release and then finds its own package incomplete leaves the boards with no
// driver, or waits for a file no one will ever insert.
#pragma once

#include <windows.h>

#include <string>

// Whether the two INFs can be installed as they are: each opens as an INF, every file its
// SourceDisksFiles names (the files its CopyFiles sections copy) is where the INF says, and
// the system drive has room for those files and the INFs. ERROR_SUCCESS, or the cause
// (the INF's open error, ERROR_FILE_NOT_FOUND, ERROR_DISK_FULL) with a sentence naming the
// INF, the missing file or the space needed in *problem. Reads only.
DWORD CheckDriverPackages(const std::string& first_inf, const std::string& second_inf,
                          std::string* problem);
