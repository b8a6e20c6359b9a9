#include "cleanup/inf_store_cleanup.h"

#include <string.h>

#include "catalog/catalog.h"
#include "common/case_insensitive.h"
#include "common/path_join.h"
#include "common/system_directory.h"

static bool BeginsWithProductHeader(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char header[kInfHeaderLength + 1] = {};
    DWORD read = 0;
    const BOOL readOk = ReadFile(file, header, kInfHeaderLength, &read, nullptr);
    CloseHandle(file);
    // A short file must not match on bytes it never supplied.
    if (!readOk || read != kInfHeaderLength) return false;
    header[kInfHeaderLength] = '\0';
    for (const char* line : InfHeaderLines) {
        if (EqualsIgnoreCaseN(header, line, kInfHeaderLength)) return true;
    }
    return false;
}

static void RemoveIfProductInf(const char* directory, const char* name) {
    char path[kPathBufferSize];
    if (!JoinPath(path, sizeof path, directory, name)) return;
    if (!BeginsWithProductHeader(path)) return;
    DeleteFileA(path);
    // The search also matches on short names, so a long name need not end in ".inf".
    if (ToPrecompiledInfPath(path)) DeleteFileA(path);
}

static void RemoveStagedProductInfs(const char* directory) {
    char pattern[kPathBufferSize];
    if (!JoinPath(pattern, sizeof pattern, directory, StagedInfPattern)) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        found.cFileName[sizeof found.cFileName - 1] = '\0';
        RemoveIfProductInf(directory, found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static void DeleteInDirectory(const char* directory, const char* name) {
    char path[kPathBufferSize];
    if (JoinPath(path, sizeof path, directory, name)) DeleteFileA(path);
}

ErrorCode RemoveOemInfFiles() {
    char directory[kPathBufferSize];
    ErrorCode error = ERROR_SUCCESS;
    if (!QueryDirectoryPath(GetWindowsDirectoryA, InfSubdirectory, directory, &error)) {
        return error;
    }
    DeleteInDirectory(directory, ProductInfName);
    DeleteInDirectory(directory, ProductPnfName);
    RemoveStagedProductInfs(directory);
    return ERROR_SUCCESS;
}
