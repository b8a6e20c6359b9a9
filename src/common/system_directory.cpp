#include "common/system_directory.h"

#include "common/path_join.h"

constexpr UINT kDirectoryQuerySize = 520;

bool QueryDirectoryPath(DirectoryQuery query, const char* subdirectory,
                        char (&path)[kPathBufferSize], ErrorCode* error) {
    path[0] = '\0';
    const UINT length = query(path, kDirectoryQuerySize);
    if (length == 0) {
        *error = GetLastError();
        return false;
    }
    // 520 or more means the path did not fit, and the buffer does not hold it.
    if (length >= kDirectoryQuerySize || !WithTrailingBackslash(path, sizeof path, length) ||
        !AppendText(path, sizeof path, subdirectory)) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    return true;
}
