#include "harness/devices.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>

#include "harness/files.h"

namespace kvxtest {
namespace {

// The System setup class; our test INFs name the same class.
constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The whole property, whatever its size; empty when the device has none.
std::string ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
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

std::vector<std::string> SplitMultiString(const std::string& data) {
    std::vector<std::string> strings;
    size_t start = 0;
    while (start < data.size()) {
        const size_t end = data.find('\0', start);
        const std::string item = data.substr(start, end == std::string::npos ? end : end - start);
        if (item.empty()) break;
        strings.push_back(item);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return strings;
}

std::string UpToTerminator(const std::string& data) {
    return data.substr(0, data.find('\0'));
}

std::string ReadClassValue(const std::string& driver_key, const char* value) {
    const std::string path = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver_key;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    const LONG status =
        RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(data) : std::string();
}

}  // namespace

std::string RootInstanceId(const std::string& name) {
    return "Root\\" + name + "\\0000";
}

bool RegisterRootDevice(const std::string& name, const std::vector<std::string>& hardware_ids,
                        const std::string& service) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    std::string ids;
    for (const std::string& id : hardware_ids) ids += id + '\0';
    ids += '\0';
    bool ok = SetupDiCreateDeviceInfoA(set, RootInstanceId(name).c_str(), &kSystemClass, nullptr,
                                       nullptr, 0, &device) &&
              SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(ids.data()),
                                                static_cast<DWORD>(ids.size()));
    if (ok && !service.empty()) {
        ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE,
                                               reinterpret_cast<const BYTE*>(service.c_str()),
                                               static_cast<DWORD>(service.size() + 1));
    }
    ok = ok && SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

std::vector<Device> ListDevices() {
    std::vector<Device> devices;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        Device device;
        char id[MAX_DEVICE_ID_LEN + 1] = {};
        SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr);
        device.instance_id = id;
        device.service = UpToTerminator(ReadProperty(set, &data, SPDRP_SERVICE));
        device.hardware_ids = SplitMultiString(ReadProperty(set, &data, SPDRP_HARDWAREID));
        const std::string driver_key = UpToTerminator(ReadProperty(set, &data, SPDRP_DRIVER));
        if (!driver_key.empty())
            device.driver_inf = BaseName(ReadClassValue(driver_key, "InfPath"));
        devices.push_back(device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

std::optional<Device> FindRootDevice(const std::string& name) {
    const std::string wanted = ToLower(RootInstanceId(name));
    for (const Device& device : ListDevices()) {
        if (ToLower(device.instance_id) == wanted) return device;
    }
    return std::nullopt;
}

}  // namespace kvxtest
