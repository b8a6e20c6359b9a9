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

}  // namespace

bool ListImportedNames(HMODULE module, std::vector<std::string>* names) {
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = FirstDescriptor(module);
    for (; descriptor && descriptor->Name != 0; ++descriptor) {
        if (descriptor->OriginalFirstThunk == 0) return false;
        const auto* entry = At<const IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
        for (; entry->u1.AddressOfData != 0; ++entry) {
            if (IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal)) {
                names->push_back("#" + std::to_string(IMAGE_ORDINAL(entry->u1.Ordinal)));
            } else {
                const DWORD offset = static_cast<DWORD>(entry->u1.AddressOfData);
                names->push_back(At<const IMAGE_IMPORT_BY_NAME>(module, offset)->Name);
            }
        }
    }
    return true;
}

DWORD ReplaceImports(HMODULE module, std::span<const ImportReplacement> replacements) {
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = FirstDescriptor(module);
    for (; descriptor && descriptor->Name != 0; ++descriptor) {
        HMODULE system_dll = GetModuleHandleA(At<const char>(module, descriptor->Name));
        if (!system_dll) continue;
        auto* entry = At<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
        for (; entry->u1.Function != 0; ++entry) {
            for (const ImportReplacement& replacing : replacements) {
                const FARPROC original = GetProcAddress(system_dll, replacing.name);
                if (!original || entry->u1.Function != reinterpret_cast<ULONG_PTR>(original)) {
                    continue;
                }
                const DWORD error = WriteEntry(entry, replacing.replacement);
                if (error != ERROR_SUCCESS) return error;
            }
        }
    }
    return ERROR_SUCCESS;
}
