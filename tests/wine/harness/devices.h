// Devices of the test machine: root devices with chosen hardware IDs stand in for boards.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win32_common/root_device.h"

namespace kvxtest {

struct Device {
    std::string instance_id;  // As the platform reports it (Wine: upper case).
    std::string service;      // Empty when the device has none.
    std::vector<std::string> hardware_ids;
    // Name of the INF in the INF store that installed the device's driver; empty while
    // it has none.
    std::string driver_inf;
};

// Registers Root\<name>\0000 in the System class with the hardware IDs (in this order) and,
// when `service` is not empty, that driver service. False on any failure.
bool RegisterRootDevice(const std::string& name, const std::vector<std::string>& hardware_ids,
                        const std::string& service = "");

// Every device of the machine, present or not, in the platform's order.
std::vector<Device> ListDevices();

// The device whose instance ID is Root\<name>\0000 (any letter case).
std::optional<Device> FindRootDevice(const std::string& name);

using kvxwin::RootInstanceId;

}  // namespace kvxtest
