// Random device trees through the device removal and through the whole removal sequence.
// A device is only ever removed when its service is the one asked for and one of its
// hardware IDs, as far as the platform reported them, begins with a requested prefix; a
// file is only ever deleted when the product could own it.
#include <kvxsim/machine.h>
#include <stddef.h>
#include <stdint.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "entry/exports.h"
#include "fuzz_failures.h"
#include "fuzz_input.h"

namespace {

using kvxfuzz::ByteReader;
using kvxfuzz::EqualNoCase;
using kvxfuzz::StartsWithNoCase;

constexpr const char* kOtherProvider = "Other Maker Ltd";

struct Request {
    std::string service;
    std::vector<std::string> prefixes;
};

struct DeviceModel {
    std::string instanceId;
    std::optional<std::string> service;
    std::string idBytes;  // the multi-string exactly as reported
    std::vector<kvxsim::Driver> drivers;
};

std::string FromCatalog(ByteReader& in) {
    switch (in.Pick(4)) {
        case 0:
            return Dz4xHardwareIds[in.Pick(std::size(Dz4xHardwareIds))];
        case 1:
            return HxHardwareIds[in.Pick(std::size(HxHardwareIds))];
        case 2:
            return "PCI\\VEN_10EC&DEV_8139";
        default:
            return in.Text(40);
    }
}

std::string ServiceName(ByteReader& in) {
    static constexpr const char* kServices[] = {"dz4x", "hxhw", "DZ4X", "HxHw", "othernic", "hx"};
    if (in.Pick(5) == 0) return in.Varied(in.Text(20));
    return in.Varied(kServices[in.Pick(std::size(kServices))]);
}

// Image path values, by how the removal must treat them.
enum class ImagePath { Absent, Usable, NtPath, Unknown };

ImagePath SetImagePath(ByteReader& in, const char* key) {
    switch (in.Pick(5)) {
        case 0:
            return ImagePath::Absent;
        case 1:
            kvxsim::SetValue(key, ImagePathValueName, REG_EXPAND_SZ,
                             std::string("\\??\\C:\\WINNT\\system32\\drivers\\x.sys") + '\0');
            return ImagePath::NtPath;
        case 2:
            kvxsim::SetValue(key, ImagePathValueName, REG_EXPAND_SZ, in.Bytes());
            return ImagePath::Unknown;
        default:
            kvxsim::SetValue(key, ImagePathValueName, REG_EXPAND_SZ,
                             std::string("System32\\DRIVERS\\x.sys") + '\0');
            return ImagePath::Usable;
    }
}

// The reported multi-string, walked as the platform's consumer must: up to the first empty
// string or the reported end, whichever comes first.
std::vector<std::string> ReportedIds(const std::string& bytes) {
    std::vector<std::string> ids;
    size_t at = 0;
    while (at < bytes.size() && bytes[at] != '\0') {
        const size_t end = bytes.find('\0', at);
        ids.push_back(bytes.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return ids;
}

bool Matches(const DeviceModel& device, const Request& request) {
    if (!device.service || !EqualNoCase(*device.service, request.service)) return false;
    for (const std::string& id : ReportedIds(device.idBytes)) {
        for (const std::string& prefix : request.prefixes) {
            if (StartsWithNoCase(id, prefix)) return true;
        }
    }
    return false;
}

DeviceModel AddFuzzedDevice(ByteReader& in, int index) {
    DeviceModel model;
    model.instanceId = "ROOT\\FUZZ" + std::to_string(index) + "\\" + in.Varied("0000");
    kvxsim::Device device{.instanceId = model.instanceId};
    if (in.Pick(6) != 0) device.service = model.service = ServiceName(in);
    const int idCount = in.Byte() % 5;
    for (int i = 0; i < idCount; ++i) device.hardwareIds.push_back(in.Varied(FromCatalog(in)));
    for (const std::string& id : device.hardwareIds) model.idBytes += id + '\0';
    if (!device.hardwareIds.empty()) model.idBytes += '\0';
    device.present = in.Pick(4) != 0;
    const int driverCount = in.Byte() % 4;
    for (int i = 0; i < driverCount; ++i) {
        const char* provider = in.Flag() ? DriverProviderName : kOtherProvider;
        const std::string infName = in.Flag() ? "kvxpkg" + std::to_string(in.Byte() % 4) + ".inf"
                                              : "oem" + std::to_string(in.Byte() % 8) + ".inf";
        device.drivers.push_back({.description = in.Varied("Board"),
                                  .manufacturer = "Maker",
                                  .provider = in.Varied(provider),
                                  .infPath = kvxsim::InfDirectory() + infName,
                                  .section = in.Varied("Board.NT"),
                                  .hardwareId = in.Varied(FromCatalog(in))});
    }
    model.drivers = device.drivers;
    kvxsim::AddDevice(device);
    if (in.Pick(3) == 0) {
        // Odd data: no terminators, a cut list, or a size reported beyond the data.
        model.idBytes = in.Flag() ? in.Bytes(120) : model.idBytes;
        std::optional<DWORD> reported;
        if (in.Flag()) reported = in.Byte() % 160;
        kvxsim::SetHardwareIdData(model.instanceId, model.idBytes, reported);
        if (reported) {
            model.idBytes.resize(*reported, '\0');
        }
    }
    return model;
}

std::set<std::string> AllFiles() {
    std::set<std::string> files;
    for (const std::string& directory :
         {std::string("C:\\WINNT\\inf"), std::string("C:\\WINNT\\system32\\drivers")}) {
        for (const std::string& name : kvxsim::FilesIn(directory)) {
            files.insert(kvxfuzz::Upper(directory + "\\" + name));
        }
    }
    return files;
}

bool ProviderMatches(const kvxsim::Driver& driver, const std::string& provider) {
    // The driver list reports at most LINE_LEN - 1 characters of the provider.
    return EqualNoCase(driver.provider.substr(0, LINE_LEN - 1), provider);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvxsim::Reset();
    ByteReader in(data, size);
    const size_t mode = in.Pick(3);

    // What the call is asked to remove.
    std::vector<Request> requests;
    std::string provider = DriverProviderName;
    ImagePath dz4xImage = ImagePath::Absent;
    ImagePath hxImage = ImagePath::Absent;
    if (mode == 0) {
        requests.push_back({ServiceName(in), {in.Varied(FromCatalog(in))}});
    } else if (mode == 1) {
        requests.push_back({in.Text(40), {in.Text(40)}});
        provider = in.Varied(in.Flag() ? DriverProviderName : kOtherProvider);
    } else {
        if (in.Flag()) kvxsim::AddKey(Dz4xServiceKey);
        if (in.Flag()) kvxsim::AddKey(HxServiceKey);
        dz4xImage = SetImagePath(in, Dz4xServiceKey);
        hxImage = SetImagePath(in, HxServiceKey);
        Request dz4x{Dz4xDeviceService, {}};
        for (const char* id : Dz4xHardwareIds) dz4x.prefixes.push_back(id);
        Request hx{HxDeviceService, {}};
        for (const char* id : HxRemovalPrefixes) hx.prefixes.push_back(id);
        requests = {dz4x, hx};
    }

    // The machine.
    for (int i = 0; i < 4; ++i) {
        kvxsim::AddFile(kvxsim::InfDirectory() + "kvxpkg" + std::to_string(i) + ".inf", "; x\r\n");
    }
    for (int i = 0; i < 8; ++i) {
        if (in.Flag()) {
            kvxsim::AddFile(kvxsim::InfDirectory() + "oem" + std::to_string(i) + ".inf",
                            in.Flag() ? "; Copyright 2002, Kavexa Systems Inc\r\n" : "; other\r\n");
        }
    }
    kvxsim::AddFile(kvxsim::InfDirectory() + "machine.inf", "; the system's\r\n");
    kvxsim::AddFile(kvxsim::DriversDirectory() + "othernic.sys", "MZ");
    kvxsim::AddFile(kvxsim::DriversDirectory() + Dz4xDriverBinary, "MZ");
    static constexpr const char* kServices[] = {"tlxdaemon", "Dz4x", "Hx", "Hxhw", "othernic"};
    for (const char* service : kServices) {
        if (in.Flag()) {
            kvxsim::AddService(
                {.name = service,
                 .running = in.Flag(),
                 .stopError = in.Pick(4) == 0 ? DWORD{ERROR_DEPENDENT_SERVICES_RUNNING} : 0,
                 .stopsSlowly = in.Pick(4) == 0});
        }
    }
    std::vector<DeviceModel> devices;
    const int deviceCount = in.Byte() % 12;
    for (int i = 0; i < deviceCount; ++i) devices.push_back(AddFuzzedDevice(in, i));
    for (const char* name : {"kvxpkg0.inf", "oem1.inf"}) {
        if (in.Pick(4) == 0) kvxsim::LockFile(kvxsim::InfDirectory() + name);
    }
    if (in.Pick(4) == 0) {
        const int queries = in.Byte() % 4;
        kvxsim::GrowPropertySize(queries, in.Byte());
    }
    const bool failures = kvxfuzz::InjectFailures(in);

    const std::set<std::string> filesBefore = AllFiles();
    std::map<std::string, bool> servicesBefore;
    for (const char* service : kServices) servicesBefore[service] = kvxsim::ServiceExists(service);

    // The devices the call may remove, the ones it must remove, and the files it may delete.
    std::set<std::string> mayRemove;
    std::set<std::string> mustRemove;
    std::set<std::string> mayDelete;
    for (size_t r = 0; r < requests.size(); ++r) {
        const ImagePath image = r == 0 ? dz4xImage : hxImage;
        for (const DeviceModel& device : devices) {
            if (!Matches(device, requests[r])) continue;
            mayRemove.insert(device.instanceId);
            const bool acted = mode != 2 || image == ImagePath::Usable;
            if (acted) mustRemove.insert(device.instanceId);
            for (const kvxsim::Driver& driver : device.drivers) {
                if (ProviderMatches(driver, provider))
                    mayDelete.insert(kvxfuzz::Upper(driver.infPath));
            }
        }
        if (mode == 2 && (image == ImagePath::Absent || image == ImagePath::NtPath)) {
            for (const DeviceModel& device : devices) {
                if (Matches(device, requests[r])) mayRemove.erase(device.instanceId);
            }
        }
    }
    if (mode == 2) {
        for (const std::string& file : filesBefore) {
            const std::string name = file.substr(file.rfind('\\') + 1);
            if (name == "KVX.INF" || name == "KVX.PNF" || name.rfind("OEM", 0) == 0 ||
                file == kvxfuzz::Upper(kvxsim::DriversDirectory() + Dz4xDriverBinary)) {
                mayDelete.insert(file);
            }
        }
    }

    if (mode == 2) {
        if (KVXSetup_PnPRemoveKVX() != ERROR_SUCCESS) kvxfuzz::Broken("removal sequence failed");
    } else {
        const DWORD result = KVXSetup_RemoveDevices(
            requests[0].service.c_str(), requests[0].prefixes[0].c_str(), provider.c_str());
        if (result != ERROR_SUCCESS && !failures) kvxfuzz::Broken("RemoveDevices failed");
    }

    kvxfuzz::CheckNothingLeftOpen();
    for (const DeviceModel& model : devices) {
        const auto device = kvxsim::FindDevice(model.instanceId);
        if (!device) kvxfuzz::Broken("device vanished", model.instanceId);
        if (device->removed && !mayRemove.count(model.instanceId)) {
            kvxfuzz::Broken("removed a device not asked for", model.instanceId);
        }
        if (!device->removed && !failures && mustRemove.count(model.instanceId)) {
            kvxfuzz::Broken("left a requested device", model.instanceId);
        }
    }
    const std::set<std::string> filesAfter = AllFiles();
    for (const std::string& file : filesBefore) {
        if (!filesAfter.count(file) && !mayDelete.count(file)) {
            kvxfuzz::Broken("deleted a file not the product's", file);
        }
    }
    for (const auto& [service, existed] : servicesBefore) {
        const bool product = EqualNoCase(service, "Dz4x") || EqualNoCase(service, "Hx") ||
                             EqualNoCase(service, "Hxhw");
        if (existed && !product && !kvxsim::ServiceExists(service)) {
            kvxfuzz::Broken("deleted a service not the product's", service);
        }
    }
    return 0;
}
