#pragma once

#include "common/platform.h"

// Has the class installer remove the device; the caller may ignore the result.
bool RemoveDevice(HDEVINFO devices, SP_DEVINFO_DATA* device);
