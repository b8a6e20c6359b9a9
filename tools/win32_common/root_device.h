// Root devices with chosen hardware IDs: they stand in for the product's boards on a
// machine that has none.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvxwin {

std::string RootInstanceId(const std::string& name);  // Root\<name>\0000.

// Registers Root\<name>\0000 in the System class with the hardware IDs (in this order) and,
// when `service` is not empty, that driver service. Returns ERROR_SUCCESS or the error of
// the step that failed (ERROR_DEVINST_ALREADY_EXISTS when the device is there already).
DWORD RegisterRootDevice(const std::string& name, const std::vector<std::string>& hardware_ids,
                         const std::string& service = "");

}  // namespace kvxwin
