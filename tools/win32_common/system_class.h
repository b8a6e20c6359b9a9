// The System setup class. The stand-in boards are registered in it, and the INFs written
// for them must name the same class, or the platform will not match their drivers.
#pragma once

#include <windows.h>

#include <string>

namespace kvxwin {

inline constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The [Version] section of an INF of the System class, CR LF line ends. `driver_ver` is the
// DriverVer value ("MM/DD/YYYY,w.x.y.z"); the provider is %Provider%, which the INF's
// [Strings] section defines.
std::string SystemClassInfVersion(const std::string& driver_ver);

}  // namespace kvxwin
