#include <algorithm>

#include "interposition/change_record.h"
#include "interposition/machine_changes.h"
#include "interposition/replacements.h"

std::vector<std::string_view> ReadOnlyImports() {
    return {"CloseServiceHandle",
            "OpenSCManagerA",
            "OpenServiceA",
            "QueryServiceStatus",
            "RegCloseKey",
            "RegOpenKeyExA",
            "RegQueryValueExA",
            "CloseHandle",
            "FindClose",
            "FindFirstFileA",
            "FindNextFileA",
            "GetLastError",
            "SetLastError",
            "GetSystemDirectoryA",
            "GetWindowsDirectoryA",
            "GetFileAttributesA",
            "LocalAlloc",
            "LocalFree",
            "OutputDebugStringA",
            "ReadFile",
            "_vsnprintf",
            "strlen",
            "CM_Locate_DevNodeA",
            "SetupDiBuildDriverInfoList",
            "SetupDiDestroyDeviceInfoList",
            "SetupDiDestroyDriverInfoList",
            "SetupDiEnumDeviceInfo",
            "SetupDiEnumDriverInfoA",
            "SetupDiGetClassDevsA",
            "SetupDiGetDeviceInstanceIdA",
            "SetupDiGetDeviceRegistryPropertyA",
            "SetupDiGetDriverInfoDetailA"};
}

DWORD InterposeMachineChanges(HMODULE module, InterpositionMode mode, bool finish_at_restart,
                              std::string* problem) {
    const std::vector<ImportReplacement> replacements =
        mode == InterpositionMode::kPreview ? PreviewReplacements()
                                            : PassThroughReplacements(finish_at_restart);
    const std::vector<std::string_view> reads = ReadOnlyImports();
    std::vector<std::string> imported;
    if (!ListImportedNames(module, &imported)) {
        *problem = "the module's imports have no name table";
        return ERROR_NOT_SUPPORTED;
    }
    for (const std::string& name : imported) {
        const bool replaced =
            std::any_of(replacements.begin(), replacements.end(),
                        [&](const ImportReplacement& r) { return name == r.name; });
        if (!replaced && std::find(reads.begin(), reads.end(), name) == reads.end()) {
            *problem = "the module imports " + name + ", whose changes " +
                       (mode == InterpositionMode::kPreview ? "a preview cannot hold back"
                                                            : "the report cannot follow");
            return ERROR_NOT_SUPPORTED;
        }
    }
    SetMode(mode);
    return ReplaceImports(module, replacements);
}
