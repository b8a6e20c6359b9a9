#pragma once

#include "common/error_codes.h"

// Deletes the product's INF files from the INF store: the fixed-name INF and its
// precompiled form, and every staged oem*.inf that begins with one of the product's
// header lines, with its .pnf. Returns 0, or the error when the Windows directory cannot
// be obtained.
ErrorCode RemoveOemInfFiles();
