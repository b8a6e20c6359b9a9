#include "win32_common/system_dlls.h"

#include "win32_common/system_directories.h"

namespace {

constexpr const char* kSetupDlls[] = {"setupapi.dll", "newdev.dll"};

template <typename Function>
Function LookUp(const char* dll, const char* name) {
    HMODULE module = GetModuleHandleA(dll);
    const FARPROC address = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace

DWORD LoadSetupDllsFromSystemFolder(std::string* path) {
    using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
    if (const auto set_dll_directory =
            LookUp<SetDllDirectoryFunction>("kernel32.dll", "SetDllDirectoryA")) {
        set_dll_directory("");
    }
    const std::string system = kvxwin::SystemDirectory();
    for (const char* name : kSetupDlls) {
        *path = system + name;
        if (system.size() < 2 || !LoadLibraryA(path->c_str())) {
            const DWORD error = GetLastError();
            return error ? error : ERROR_PATH_NOT_FOUND;
        }
    }
    path->clear();
    return ERROR_SUCCESS;
}

bool UseSetupApiNonInteractively() {
    using SetNonInteractiveFunction = BOOL(WINAPI*)(BOOL);
    const auto set_non_interactive =
        LookUp<SetNonInteractiveFunction>("setupapi.dll", "SetupSetNonInteractiveMode");
    if (!set_non_interactive) return false;
    set_non_interactive(TRUE);
    return true;
}
