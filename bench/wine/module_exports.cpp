#include "module_exports.h"

#include <cstdio>

namespace {

template <typename Function>
bool FindExport(HMODULE module, const char* name, Function* function) {
    const FARPROC address = GetProcAddress(module, name);
    if (!address) {
        fprintf(stderr, "kvx_wine_bench: KVXSETUPW2K.dll lacks %s\n", name);
        return false;
    }
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return true;
}

}  // namespace

bool LoadModuleExports(ModuleExports* exports) {
    *exports = {};
    exports->module = LoadLibraryA("KVXSETUPW2K.dll");
    if (!exports->module) {
        fprintf(stderr, "kvx_wine_bench: cannot load KVXSETUPW2K.dll, err=%lu\n",
                static_cast<unsigned long>(GetLastError()));
        return false;
    }
    if (FindExport(exports->module, "KVXSetup_PnPInstallKVX", &exports->installKvx) &&
        FindExport(exports->module, "KVXSetup_PnPRemoveKVX", &exports->removeKvx)) {
        return true;
    }
    UnloadModuleExports(exports);
    return false;
}

void UnloadModuleExports(ModuleExports* exports) {
    if (exports->module) FreeLibrary(exports->module);
    *exports = {};
}
