#include "inf_paths.h"

namespace {

// SetupAPI takes INF paths in MAX_PATH buffers; longer ones crash or hang some of its
// implementations instead of failing.
DWORD MakeFull(std::string* path, std::string* problem) {
    if (path->size() >= MAX_PATH) {
        *problem = "an INF path of " + std::to_string(path->size()) + " characters";
        return ERROR_FILENAME_EXCED_RANGE;
    }
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path->c_str(), sizeof full, full, nullptr);
    if (length == 0) {
        const DWORD error = GetLastError();
        *problem = "cannot make a full path of " + *path;
        return error ? error : ERROR_INVALID_NAME;
    }
    if (length >= sizeof full) {
        *problem = "the INF path " + *path + " is " + std::to_string(length - 1) +
                   " characters as a full path";
        return ERROR_FILENAME_EXCED_RANGE;
    }
    path->assign(full, length);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD UseFullInfPaths(const Command& command, CallArguments* arguments, std::string* problem) {
    for (int i = 0; i < command.inf_paths; ++i) {
        if (arguments->text[i].empty()) continue;
        const DWORD error = MakeFull(&arguments->text[i], problem);
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}
