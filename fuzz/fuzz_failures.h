// Failures of the platform a fuzzer input may ask for, so that the module's error paths
// see odd machines too.
#pragma once

#include <string_view>

#include "fuzz_input.h"

namespace kvxfuzz {

// Reads zero or more failure requests; true when any was made (the machine's end state
// then only has to be safe, not complete).
inline bool InjectFailures(ByteReader& in) {
    static constexpr const char* kFunctions[] = {
        "SetupDiGetClassDevsA",
        "SetupDiEnumDeviceInfo",
        "SetupDiGetDeviceRegistryPropertyA",
        "SetupDiCallClassInstaller",
        "SetupDiBuildDriverInfoList",
        "SetupDiEnumDriverInfoA",
        "SetupDiGetDriverInfoDetailA",
        "DeleteFileA",
        "LocalAlloc",
        "OpenSCManagerA",
        "OpenServiceA",
        "ControlService",
        "DeleteService",
        "RegOpenKeyExA",
        "RegQueryValueExA",
        "RegDeleteKeyA",
        "FindFirstFileA",
        "FindNextFileA",
        "CreateFileA",
        "ReadFile",
        "GetWindowsDirectoryA",
        "GetSystemDirectoryA",
    };
    static constexpr DWORD kErrors[] = {ERROR_ACCESS_DENIED,
                                        ERROR_INVALID_DATA,
                                        ERROR_INSUFFICIENT_BUFFER,
                                        ERROR_NO_MORE_ITEMS,
                                        0,
                                        ERROR_NOT_ENOUGH_MEMORY,
                                        ERROR_FILE_NOT_FOUND,
                                        ERROR_SHARING_VIOLATION};
    const bool any = in.Byte() % 4 == 0;
    const int count = any ? in.Byte() % 3 + 1 : 0;
    for (int i = 0; i < count; ++i) {
        const char* function = kFunctions[in.Pick(std::size(kFunctions))];
        DWORD error = kErrors[in.Pick(std::size(kErrors))];
        // Reg* functions return their error instead of setting the last error: "failing"
        // one with 0 would be a success that filled nothing (an image path read as empty,
        // which the removal rightly takes as usable), and no registry answers like that.
        if (error == 0 && std::string_view(function).starts_with("Reg")) {
            error = ERROR_ACCESS_DENIED;
        }
        const int nth = in.Byte() % 16 + 1;
        const int times = in.Byte() % 4;
        kvxsim::FailCall(function, error, nth, times);
    }
    return count > 0;
}

}  // namespace kvxfuzz
