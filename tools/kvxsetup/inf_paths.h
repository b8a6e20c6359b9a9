// The INF paths of a command, made full before the module or the preview sees them.
#pragma once

#include <windows.h>

#include <string>

#include "commands.h"

// Each INF path turned into the full path the system resolves it to from the current
// folder, so that the preview and the run name the same file and the module's staging is
// given a path it can use. An empty path is left empty, for the export to refuse. Returns
// ERROR_FILENAME_EXCED_RANGE, with the path's length in `problem`, for a path of MAX_PATH
// characters or more, given or resolved; or the system's error for a path it cannot resolve.
DWORD UseFullInfPaths(const Command& command, CallArguments* arguments, std::string* problem);
