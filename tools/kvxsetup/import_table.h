// The import address table of a loaded module: the one place through which its calls into
// system DLLs pass, so replacing an entry there redirects that module's calls only, with
// nothing in the file changed and nothing beyond what Windows 2000 offers.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <vector>

struct ImportReplacement {
    const char* name;  // As the system DLL exports it.
    FARPROC replacement;
};

// The names of every function the module imports, from its import name tables; false when a
// descriptor has no name table (its functions then cannot be told apart by name).
bool ListImportedNames(HMODULE module, std::vector<std::string>* names);

// Points each import table entry that holds the system's address of one of the named
// functions at its replacement instead. An entry is known by the address the loader wrote
// into it, so forwarded exports are found as well. Returns 0, or the error of the
// VirtualProtect that failed.
DWORD ReplaceImports(HMODULE module, std::span<const ImportReplacement> replacements);
