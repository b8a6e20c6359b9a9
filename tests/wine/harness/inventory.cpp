#include "harness/inventory.h"

#include <algorithm>
#include <iterator>

#include "harness/devices.h"
#include "harness/files.h"
#include "harness/services.h"

namespace kvxtest {

Inventory TakeInventory() {
    Inventory lines;
    for (const Device& device : ListDevices()) {
        std::string line = "device " + device.instance_id + " service=" + device.service + " ids=";
        for (size_t i = 0; i < device.hardware_ids.size(); ++i) {
            line += (i ? "|" : "") + device.hardware_ids[i];
        }
        line += " inf=" + ToLower(device.driver_inf);
        lines.insert(line);
    }
    for (const std::string& name : ListServices()) lines.insert("service " + ToLower(name));
    for (const std::string& name : ListRegistrySubkeys("SYSTEM\\CurrentControlSet\\Services")) {
        lines.insert("service key " + ToLower(name));
    }
    for (const std::string& name :
         ListRegistrySubkeys("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System")) {
        lines.insert("eventlog system\\" + ToLower(name));
    }
    for (const std::string& name : ListFiles(InfDirectory(), "*")) {
        lines.insert("inf " + ToLower(InfDirectory() + name));
    }
    for (const std::string& name : ListFiles(DriversDirectory(), "*")) {
        lines.insert("driver " + ToLower(DriversDirectory() + name));
    }
    return lines;
}

Inventory Without(const Inventory& inventory, const std::function<bool(const std::string&)>& drop) {
    Inventory kept;
    for (const std::string& line : inventory) {
        if (!drop(line)) kept.insert(line);
    }
    return kept;
}

Inventory Difference(const Inventory& a, const Inventory& b) {
    Inventory only_a;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(),
                        std::inserter(only_a, only_a.end()));
    return only_a;
}

}  // namespace kvxtest
