#include "harness/module.h"

namespace kvxtest {

LoadedModule::LoadedModule() {
    handle_ = LoadLibraryA(kModuleName);
    if (!handle_) load_error_ = GetLastError();
}

LoadedModule::~LoadedModule() {
    if (handle_) FreeLibrary(handle_);
}

FARPROC LoadedModule::FindExport(const char* name) const {
    return handle_ ? GetProcAddress(handle_, name) : nullptr;
}

}  // namespace kvxtest
