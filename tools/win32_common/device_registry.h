// A device's registry properties, read through a device information set.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace kvxwin {

// A string property (SPDRP_SERVICE, SPDRP_DEVICEDESC, ...); empty when the device has none.
std::string ReadDeviceString(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property);

// A multi-string property (SPDRP_HARDWAREID, ...), in its order; empty when the device has
// none.
std::vector<std::string> ReadDeviceStrings(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property);

// The device's driver key under HKEY_LOCAL_MACHINE (where InfPath and DriverDesc are);
// empty while the device has no driver.
std::string DriverKeyPath(HDEVINFO set, SP_DEVINFO_DATA* device);

}  // namespace kvxwin
