#include "win32_common/device_registry.h"

#include <algorithm>

namespace kvxwin {
namespace {

// The whole property, whatever its size; empty when the device has none.
std::string ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    std::string buffer(256, '\0');
    for (;;) {
        DWORD required = 0;
        if (SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr,
                                              reinterpret_cast<BYTE*>(buffer.data()),
                                              static_cast<DWORD>(buffer.size()), &required)) {
            // The reported size bounds the data: some multi-strings run past their terminator.
            buffer.resize(std::min<size_t>(required, buffer.size()));
            return buffer;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size()) return {};
        buffer.assign(required, '\0');
    }
}

}  // namespace

std::string ReadDeviceString(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    const std::string data = ReadDeviceProperty(set, device, property);
    return data.substr(0, data.find('\0'));
}

std::vector<std::string> ReadDeviceStrings(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    const std::string data = ReadDeviceProperty(set, device, property);
    std::vector<std::string> strings;
    for (size_t start = 0; start < data.size();) {
        const size_t end = std::min(data.find('\0', start), data.size());
        if (end == start) break;
        strings.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return strings;
}

std::string DriverKeyPath(HDEVINFO set, SP_DEVINFO_DATA* device) {
    const std::string driver_key = ReadDeviceString(set, device, SPDRP_DRIVER);
    if (driver_key.empty()) return {};
    return "SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver_key;
}

}  // namespace kvxwin
