// The module as the loader sees it: its name, its export table, its entry callback and
// the PE header a Windows 2000 loader reads.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/module.h"
#include "harness/trace_capture.h"
#include "kvx_version.h"

namespace {

using kvxtest::LoadedModule;
using kvxtest::TakeTrace;

const char kEntryLine[] = "TLX W2K Install DLLMain called\n";

DWORD WINAPI DoNothing(LPVOID) {
    return 0;
}

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

TEST(ModuleEntry, LoadsByNameFromTheProgramDirectory) {
    const LoadedModule module;
    ASSERT_NE(module.handle(), nullptr) << "LoadLibraryA failed, err=" << module.load_error();
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module.handle(), path, sizeof path);
    EXPECT_EQ(kvxtest::ToLower(kvxtest::BaseName(path)), "kvxsetupw2k.dll");
}

TEST(ModuleEntry, EachExportHasItsAlphabeticalOrdinal) {
    const LoadedModule module;
    ASSERT_NE(module.handle(), nullptr);
    const char* const names[] = {"KVXSetup_CopyOemInf",    "KVXSetup_InstallPnpDevice",
                                 "KVXSetup_PnPInstallKVX", "KVXSetup_PnPRemoveKVX",
                                 "KVXSetup_RemoveDevices", "KVXSetup_StopService"};
    std::vector<std::string> missing;
    for (WORD ordinal = 1; ordinal <= 6; ++ordinal) {
        const char* name = names[ordinal - 1];
        const FARPROC by_name = GetProcAddress(module.handle(), name);
        if (!by_name) {
            missing.push_back(name);
            continue;
        }
        EXPECT_EQ(
            reinterpret_cast<void*>(by_name),
            reinterpret_cast<void*>(GetProcAddress(module.handle(), MAKEINTRESOURCEA(ordinal))))
            << name << " is not ordinal " << ordinal;
    }
    if (!missing.empty()) GTEST_SKIP() << "not exported yet: " << testing::PrintToString(missing);
}

TEST(ModuleEntry, LoadThreadStartThreadEndAndUnloadWriteOneEntryLineEach) {
    ASSERT_EQ(GetModuleHandleA(kvxtest::kModuleName), nullptr) << "an earlier test kept it loaded";
    TakeTrace();
    HMODULE module = LoadLibraryA(kvxtest::kModuleName);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(TakeTrace(), std::vector<std::string>{kEntryLine}) << "after load";

    HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(TakeTrace(), std::vector<std::string>(2, kEntryLine)) << "thread start and end";

    FreeLibrary(module);
    EXPECT_EQ(TakeTrace(), std::vector<std::string>{kEntryLine}) << "after unload";
}

TEST(ModuleEntry, HeaderAsksForNoWindowsNewerThan2000) {
    const LoadedModule module;
    ASSERT_NE(module.handle(), nullptr);
    const IMAGE_OPTIONAL_HEADER& header = NtHeaders(module.handle())->OptionalHeader;
    EXPECT_LE(header.MajorOperatingSystemVersion * 100 + header.MinorOperatingSystemVersion, 500);
    EXPECT_LE(header.MajorSubsystemVersion * 100 + header.MinorSubsystemVersion, 500);
}

TEST(ModuleEntry, ImportsOnlyFromSystemDllsOfWindows2000) {
    const LoadedModule module;
    ASSERT_NE(module.handle(), nullptr);
    const auto* base = reinterpret_cast<const BYTE*>(module.handle());
    const IMAGE_DATA_DIRECTORY& imports =
        NtHeaders(module.handle())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imports.VirtualAddress, 0u);
    const std::vector<std::string> allowed = {"kernel32.dll", "advapi32.dll", "setupapi.dll",
                                              "newdev.dll", "msvcrt.dll"};
    for (auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        const std::string dll = kvxtest::ToLower(reinterpret_cast<const char*>(base + entry->Name));
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), dll), allowed.end())
            << "imports from " << dll;
    }
}

TEST(ModuleEntry, VersionResourceSaysDllOfTheProjectVersion) {
    char path[MAX_PATH] = {};
    {
        const LoadedModule module;
        ASSERT_NE(module.handle(), nullptr);
        GetModuleFileNameA(module.handle(), path, sizeof path);
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_NE(size, 0u) << "no version resource";
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = (KVX_VERSION_MAJOR << 16) | KVX_VERSION_MINOR;
    const DWORD low = (KVX_VERSION_PATCH << 16) | KVX_VERSION_TWEAK;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

}  // namespace
