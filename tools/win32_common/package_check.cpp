#include "win32_common/package_check.h"

#include <setupapi.h>

#include "win32_common/system_directories.h"

namespace {

// The platform decoration of the sections this process's system reads besides the plain
// ones.
const char* PlatformSuffix() {
    return sizeof(void*) == 8 ? ".amd64" : ".x86";
}

std::string Field(INFCONTEXT* line, DWORD index) {
    char text[MAX_PATH] = {};
    DWORD size = 0;
    if (!SetupGetStringFieldA(line, index, text, sizeof text, &size)) return "";
    return text;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path field of the SourceDisksNames line of DISK: where that disk's files are, under
// the INF's folder.
std::string DiskFolder(HINF inf, const std::string& disk) {
    for (const std::string& section :
         {std::string("SourceDisksNames") + PlatformSuffix(), std::string("SourceDisksNames")}) {
        INFCONTEXT line;
        if (!SetupFindFirstLineA(inf, section.c_str(), disk.c_str(), &line)) continue;
        std::string folder = Field(&line, 4);
        while (!folder.empty() && (folder.front() == '\\' || folder.front() == '/')) {
            folder.erase(0, 1);
        }
        return folder.empty() ? "" : kvxwin::WithBackslash(folder);
    }
    return "";
}

// What the install will write to the system drive.
struct PackageSize {
    ULONGLONG bytes = 0;
};

ULONGLONG SizeOf(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

DWORD CheckCopiedFiles(HINF inf, const std::string& inf_path, PackageSize* size,
                       std::string* problem) {
    const std::string folder = FolderOf(inf_path);
    for (const std::string& section :
         {std::string("SourceDisksFiles"), std::string("SourceDisksFiles") + PlatformSuffix()}) {
        INFCONTEXT line;
        if (!SetupFindFirstLineA(inf, section.c_str(), nullptr, &line)) continue;
        do {
            const std::string name = Field(&line, 0);
            if (name.empty()) continue;
            std::string subfolder = Field(&line, 2);
            if (!subfolder.empty()) subfolder = kvxwin::WithBackslash(subfolder);
            const std::string path = folder + DiskFolder(inf, Field(&line, 1)) + subfolder + name;
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
                (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                *problem = NameOf(inf_path) + " copies " + name + ", which is missing: " + path;
                return ERROR_FILE_NOT_FOUND;
            }
            size->bytes += SizeOf(data);
        } while (SetupFindNextLine(&line, &line));
    }
    return ERROR_SUCCESS;
}

DWORD CheckOnePackage(const std::string& inf_path, PackageSize* size, std::string* problem) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(inf_path.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        *problem = "the INF " + inf_path + " is missing";
        return error;
    }
    UINT error_line = 0;
    HINF inf = SetupOpenInfFileA(inf_path.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
    if (inf == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *problem = "the INF " + inf_path + " cannot be opened as an INF";
        if (error_line) *problem += " (line " + std::to_string(error_line) + ")";
        return error ? error : ERROR_GEN_FAILURE;
    }
    // The INF is staged into the INF folder with a precompiled copy of about its size.
    size->bytes += 2 * SizeOf(data);
    const DWORD result = CheckCopiedFiles(inf, inf_path, size, problem);
    SetupCloseInfFile(inf);
    return result;
}

DWORD CheckRoom(const PackageSize& size, std::string* problem) {
    const std::string system = kvxwin::SystemDirectory();
    if (system.size() < 3) return ERROR_SUCCESS;
    const std::string root = system.substr(0, 3);
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr)) return ERROR_SUCCESS;
    if (available.QuadPart >= size.bytes) return ERROR_SUCCESS;
    *problem = "the driver files need " + std::to_string((size.bytes + 1023) / 1024) + " KB on " +
               root + ", which has " + std::to_string(available.QuadPart / 1024) + " KB free";
    return ERROR_DISK_FULL;
}

}  // namespace

DWORD CheckDriverPackages(const std::string& first_inf, const std::string& second_inf,
                          std::string* problem) {
    PackageSize size;
    for (const std::string* inf : {&first_inf, &second_inf}) {
        const DWORD error = CheckOnePackage(*inf, &size, problem);
        if (error != ERROR_SUCCESS) return error;
    }
    return CheckRoom(size, problem);
}
