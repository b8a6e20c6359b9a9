#include "harness/devices.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "harness/files.h"
#include "win32_common/device_registry.h"
#include "win32_common/registry_value.h"

namespace kvxtest {

bool RegisterRootDevice(const std::string& name, const std::vector<std::string>& hardware_ids,
                        const std::string& service) {
    return kvxwin::RegisterRootDevice(name, hardware_ids, service) == ERROR_SUCCESS;
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
        device.service = kvxwin::ReadDeviceString(set, &data, SPDRP_SERVICE);
        device.hardware_ids = kvxwin::ReadDeviceStrings(set, &data, SPDRP_HARDWAREID);
        const std::string driver_key = kvxwin::DriverKeyPath(set, &data);
        if (!driver_key.empty()) {
            device.driver_inf = BaseName(kvxwin::ReadHklmString(driver_key, "InfPath"));
        }
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
