// Paths under the Windows or system directory, composed in the module's fixed buffers.
#pragma once

#include "common/error_codes.h"

constexpr size_t kPathBufferSize = 1044;

// The platform's directory query: GetWindowsDirectoryA or GetSystemDirectoryA.
using DirectoryQuery = UINT(WINAPI*)(LPSTR buffer, UINT size);

// Puts the queried directory, ending in a backslash, followed by subdirectory into path.
// False when there is no such path: *error is then the query's last error when it returned
// 0, or ERROR_INSUFFICIENT_BUFFER when the directory did not fit the 520 bytes it was given.
bool QueryDirectoryPath(DirectoryQuery query, const char* subdirectory,
                        char (&path)[kPathBufferSize], ErrorCode* error);
