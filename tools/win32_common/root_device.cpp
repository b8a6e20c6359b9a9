#include "win32_common/root_device.h"

#include <setupapi.h>

#include "win32_common/system_class.h"

namespace kvxwin {
namespace {

bool SetProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, const char* data,
                 size_t size) {
    return SetupDiSetDeviceRegistryPropertyA(
        set, device, property, reinterpret_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

DWORD RegisterInSet(HDEVINFO set, const std::string& name,
                    const std::vector<std::string>& hardware_ids, const std::string& service) {
    std::string ids;
    for (const std::string& id : hardware_ids) ids += id + '\0';
    ids += '\0';
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set, RootInstanceId(name).c_str(), &kSystemClass, nullptr,
                                  nullptr, 0, &device) ||
        !SetProperty(set, &device, SPDRP_HARDWAREID, ids.data(), ids.size()) ||
        (!service.empty() &&
         !SetProperty(set, &device, SPDRP_SERVICE, service.c_str(), service.size() + 1)) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::string RootInstanceId(const std::string& name) {
    return "Root\\" + name + "\\0000";
}

DWORD RegisterRootDevice(const std::string& name, const std::vector<std::string>& hardware_ids,
                         const std::string& service) {
    // A set of its own: destroying it afterwards leaves the registered device alone.
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return GetLastError();
    const DWORD error = RegisterInSet(set, name, hardware_ids, service);
    SetupDiDestroyDeviceInfoList(set);
    return error;
}

}  // namespace kvxwin
