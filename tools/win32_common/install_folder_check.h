// Whether an install folder that is already there may receive the product's files: programs
// in it later run as SYSTEM or as an administrator, so a folder someone else owns (and can
// give themselves any access to) or a link to another place is refused.
#pragma once

#include <windows.h>

#include <string>

// ERROR_SUCCESS when FOLDER does not exist, or exists, is no reparse point and is owned by
// Administrators, SYSTEM or the account this process runs as; ERROR_INVALID_PARAMETER with
// the reason in *problem otherwise, or the system's error when the owner cannot be read.
DWORD CheckExistingInstallFolder(const std::string& folder, std::string* problem);
