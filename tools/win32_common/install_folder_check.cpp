#include "win32_common/install_folder_check.h"

#include <aclapi.h>

namespace {

bool IsWellKnownOwner(PSID owner, DWORD sub_authorities, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    PSID known = nullptr;
    if (!AllocateAndInitializeSid(&nt_authority, static_cast<BYTE>(sub_authorities), first, second,
                                  0, 0, 0, 0, 0, 0, &known)) {
        return false;
    }
    const bool same = EqualSid(owner, known) != FALSE;
    FreeSid(known);
    return same;
}

bool IsRunningAccount(PSID owner) {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    // A TOKEN_USER and the SID it points to; SECURITY_MAX_SID_SIZE is 68 bytes.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + 68] = {};
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != FALSE;
    CloseHandle(token);
    return read && EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) != FALSE;
}

}  // namespace

DWORD CheckExistingInstallFolder(const std::string& folder, std::string* problem) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        *problem = folder + " is a reparse point (a link to another place)";
        return ERROR_INVALID_PARAMETER;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read =
        GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) {
        *problem = "the owner of " + folder + " cannot be read";
        return read;
    }
    const bool trusted =
        owner &&
        (IsWellKnownOwner(owner, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS) ||
         IsWellKnownOwner(owner, 1, SECURITY_LOCAL_SYSTEM_RID, 0) || IsRunningAccount(owner));
    LocalFree(descriptor);
    if (trusted) return ERROR_SUCCESS;
    *problem = folder +
               " exists and belongs to another account, which could change the files "
               "put there";
    return ERROR_INVALID_PARAMETER;
}
