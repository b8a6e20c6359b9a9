// Where the host finds the module, and what its version resource says.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

inline constexpr char kModuleName[] = "KVXSETUPW2K.dll";

// The folder of the running kvxsetup.exe, ending in a backslash.
std::string HostFolder();

// KVXSETUPW2K.dll in the folder of the running kvxsetup.exe, as the product installer
// keeps it beside itself.
std::string ModuleBesideHost();

// Where the 64-bit kvxsetup.exe is, seen from a 32-bit one: in the release beside it
// (x86\ and x64\), in an installed product's folder above it (the top level is the
// machine's width, the 32-bit host in x86\). Empty when neither is there.
std::string SixtyFourBitHostBeside();

// "1.0.0.0": the file version of the module's version resource, read without running the
// module (it is mapped as data, so its entry point is not called) and without VERSION.dll.
// Empty when the file cannot be mapped or has no version resource; `error` then holds why.
std::optional<std::string> ReadFileVersion(const std::string& path, DWORD* error);
