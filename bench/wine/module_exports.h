// The module's two composite exports, found by name as an installer finds them.
#pragma once

#include <windows.h>

struct ModuleExports {
    HMODULE module;
    DWORD(WINAPI* installKvx)(LPCSTR firstFamilyInf, LPCSTR secondFamilyInf);
    DWORD(WINAPI* removeKvx)(void);
};

// Loads KVXSETUPW2K.dll from the program's own folder. False, with a line on stderr, when
// the DLL or one of the exports is missing.
bool LoadModuleExports(ModuleExports* exports);
void UnloadModuleExports(ModuleExports* exports);
