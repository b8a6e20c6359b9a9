#pragma once

#include "common/platform.h"

// Deletes the INF file of every compatible driver of the device whose provider is
// providerName. False only when the device's driver list cannot be built.
bool RemoveDriverPackages(HDEVINFO devices, SP_DEVINFO_DATA* device, const char* providerName);
