#include "import_table.h"

namespace {

const IMAGE_IMPORT_DESCRIPTOR* FirstDescriptor(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0 || imports.Size == 0) return nullptr;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
}

template <typename T>
T* At(HMODULE module, DWORD offset) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

// The entry is written with the page made writable just for that write: the table may sit
// in a read-only section once the loader is done with it.
DWORD WriteEntry(IMAGE_THUNK_DATA* entry, FARPROC replacement) {
    DWORD previous = 0;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &previous)) return GetLastError();
    entry->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    DWORD unused = 0;
    VirtualProtect(entry, sizeof *entry, previous, &unused);
    return ERROR_SUCCESS;
}

// Hands each import's name ("#N" for one imported by ordinal) and its import address table
// entry to `visit`, which returns 0 to go on or an error that ends the walk. The entry is
// paired with its name through the parallel name table, not through the address in it: a
// compatibility shim or another hook may have put its own address there. A descriptor
// without a name table gives ERROR_NOT_SUPPORTED, since its imports cannot be named.
template <typename Visit>
DWORD ForEachImport(HMODULE module, Visit visit) {
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = FirstDescriptor(module);
    for (; descriptor && descriptor->Name != 0; ++descriptor) {
        if (descriptor->OriginalFirstThunk == 0) return ERROR_NOT_SUPPORTED;
        const auto* named = At<const IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
        auto* entry = At<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
        for (; named->u1.AddressOfData != 0; ++named, ++entry) {
            std::string name;
            if (IMAGE_SNAP_BY_ORDINAL(named->u1.Ordinal)) {
                name = "#" + std::to_string(IMAGE_ORDINAL(named->u1.Ordinal));
            } else {
                const DWORD offset = static_cast<DWORD>(named->u1.AddressOfData);
                name = At<const IMAGE_IMPORT_BY_NAME>(module, offset)->Name;
            }
            const DWORD error = visit(name, entry);
            if (error != ERROR_SUCCESS) return error;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

bool ListImportedNames(HMODULE module, std::vector<std::string>* names) {
    return ForEachImport(module, [names](const std::string& name, IMAGE_THUNK_DATA*) {
               names->push_back(name);
               return static_cast<DWORD>(ERROR_SUCCESS);
           }) == ERROR_SUCCESS;
}

DWORD ReplaceImports(HMODULE module, std::span<const ImportReplacement> replacements) {
    return ForEachImport(module, [replacements](const std::string& name, IMAGE_THUNK_DATA* entry) {
        for (const ImportReplacement& replacing : replacements) {
            if (name == replacing.name) return WriteEntry(entry, replacing.replacement);
        }
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}
