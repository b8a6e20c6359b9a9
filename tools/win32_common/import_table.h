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

// Points the import table entry of each named function at its replacement, the entry found
// by its name: one missed would let a preview change the machine for real. Returns 0,
// ERROR_NOT_SUPPORTED for a descriptor without a name table, or the error of the
// VirtualProtect that failed.
DWORD ReplaceImports(HMODULE module, std::span<const ImportReplacement> replacements);
