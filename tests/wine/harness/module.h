// Loading the module by name, as the product installer does, and finding its exports.
#pragma once

#include <windows.h>

#include <string>

#include <kvxsetupw2k.h>

namespace kvxtest {

inline constexpr char kModuleName[] = "KVXSETUPW2K.dll";

using CopyOemInfFn = decltype(&KVXSetup_CopyOemInf);
using InstallPnpDeviceFn = decltype(&KVXSetup_InstallPnpDevice);
using PnPInstallKVXFn = decltype(&KVXSetup_PnPInstallKVX);
using PnPRemoveKVXFn = decltype(&KVXSetup_PnPRemoveKVX);
using RemoveDevicesFn = decltype(&KVXSetup_RemoveDevices);
using StopServiceFn = decltype(&KVXSetup_StopService);

// Owns one LoadLibraryA reference to the module; FreeLibrary when it goes.
class LoadedModule {
public:
    LoadedModule();
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    HMODULE handle() const { return handle_; }
    // The last error of LoadLibraryA when it failed, else 0.
    DWORD load_error() const { return load_error_; }

    template <typename Fn>
    Fn Find(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(FindExport(name)));
    }

private:
    FARPROC FindExport(const char* name) const;

    HMODULE handle_ = nullptr;
    DWORD load_error_ = 0;
};

}  // namespace kvxtest

// Declares `var` as the export `name` of `module` (a LoadedModule); a test whose export
// is not there yet is skipped rather than failed.
#define KVX_EXPORT_OR_SKIP(var, module, name)                                   \
    const auto var = (module).Find<decltype(&name)>(#name);                     \
    if (var == nullptr) {                                                       \
        GTEST_SKIP() << #name " is not exported by " << ::kvxtest::kModuleName; \
    }
