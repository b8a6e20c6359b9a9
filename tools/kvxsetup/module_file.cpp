#include "module_file.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/case_insensitive.h"

namespace {

constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;

// The fixed part follows the resource's key and padding; its signature marks it, on a
// 4-byte boundary, more reliably than walking the variable-length header.
std::optional<std::string> FileVersionIn(const BYTE* data, DWORD size) {
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, data + at, sizeof info);
        if (info.dwSignature != kFixedInfoSignature) continue;
        char text[64];
        snprintf(text, sizeof text, "%lu.%lu.%lu.%lu",
                 static_cast<unsigned long>(HIWORD(info.dwFileVersionMS)),
                 static_cast<unsigned long>(LOWORD(info.dwFileVersionMS)),
                 static_cast<unsigned long>(HIWORD(info.dwFileVersionLS)),
                 static_cast<unsigned long>(LOWORD(info.dwFileVersionLS)));
        return text;
    }
    return std::nullopt;
}

std::optional<std::string> VersionOfMappedModule(HMODULE module, DWORD* error) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
    if (!found) {
        *error = GetLastError();
        return std::nullopt;
    }
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        *error = GetLastError();
        return std::nullopt;
    }
    std::optional<std::string> version = FileVersionIn(static_cast<const BYTE*>(data), size);
    if (!version) *error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return version;
}

}  // namespace

std::string HostFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder;
}

std::string ModuleBesideHost() {
    return HostFolder() + kModuleName;
}

std::string SixtyFourBitHostBeside() {
    const std::string folder = HostFolder();
    std::string parent = folder.substr(0, folder.empty() ? 0 : folder.size() - 1);
    const size_t cut = parent.find_last_of("\\/");
    const std::string own_name = cut == std::string::npos ? "" : parent.substr(cut + 1);
    parent.erase(cut == std::string::npos ? 0 : cut + 1);
    std::vector<std::string> candidates = {folder + "x64\\kvxsetup.exe"};
    if (!parent.empty()) {
        candidates.push_back(parent + "x64\\kvxsetup.exe");
        if (EqualsIgnoreCaseN(own_name.c_str(), "x86", 4)) {
            candidates.push_back(parent + "kvxsetup.exe");
        }
    }
    for (const std::string& candidate : candidates) {
        if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
    }
    return "";
}

std::optional<std::string> ReadFileVersion(const std::string& path, DWORD* error) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        *error = GetLastError();
        return std::nullopt;
    }
    std::optional<std::string> version = VersionOfMappedModule(module, error);
    FreeLibrary(module);
    return version;
}
