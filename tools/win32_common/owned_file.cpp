#include "win32_common/owned_file.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD RefuseUnlessOwnFile(HANDLE file, std::string* refusal) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return GetLastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        *refusal = "it is a reparse point (a link to another place)";
    } else if (info.nNumberOfLinks > 1) {
        *refusal = "it has more than one name (a hard link)";
    } else {
        return ERROR_SUCCESS;
    }
    return ERROR_ACCESS_DENIED;
}

// The link itself is opened, never what it points to.
HANDLE OpenLinkItself(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

DWORD DeleteOwnFile(const std::string& path, std::string* refusal) {
    HANDLE existing = OpenLinkItself(path, 0, kShareAll, OPEN_EXISTING);
    if (existing == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    const DWORD refused = RefuseUnlessOwnFile(existing, refusal);
    CloseHandle(existing);
    if (refused != ERROR_SUCCESS) return refused;
    if (!DeleteFileA(path.c_str())) return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

HANDLE OpenOwnFile(const std::string& path, FileStart start, DWORD access, DWORD share,
                   DWORD* error, std::string* refusal) {
    refusal->clear();
    if (start == FileStart::kFresh) {
        *error = DeleteOwnFile(path, refusal);
        if (*error != ERROR_SUCCESS) return INVALID_HANDLE_VALUE;
    }
    // A fresh file is created only where nothing is: whatever appeared since the delete is
    // someone else's.
    HANDLE file =
        OpenLinkItself(path, access, share, start == FileStart::kFresh ? CREATE_NEW : OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        if (*error == ERROR_FILE_EXISTS) *refusal = "it was created again while it was replaced";
        return INVALID_HANDLE_VALUE;
    }
    *error = RefuseUnlessOwnFile(file, refusal);
    if (*error == ERROR_SUCCESS) return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}
