#include "reliability/machines.h"

#include <kvxsim/machine.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace reliability {

namespace {

constexpr const char* kInfStore = "C:\\WINNT\\inf\\";
constexpr const char* kDrivers = "C:\\WINNT\\system32\\drivers\\";

std::string InStore(const char* name) {
    return std::string(kInfStore) + name;
}

kvxsim::Driver OurDriver(const char* infName, std::string provider = kProvider,
                         std::string hardwareId = {}) {
    return {.description = "Kavexa PCI board",
            .manufacturer = "Kavexa",
            .provider = std::move(provider),
            .infPath = InStore(infName),
            .section = "Board.NT",
            .hardwareId = std::move(hardwareId)};
}

// A board as the platform lists it: the instance ID's device part, with and without the
// revision, as its hardware IDs.
kvxsim::Device Board(const char* instanceId, std::optional<std::string> service,
                     std::vector<kvxsim::Driver> drivers = {}, bool present = true) {
    const std::string id(instanceId);
    const std::string full = id.substr(0, id.find("\\3&"));
    return {.instanceId = id,
            .service = std::move(service),
            .hardwareIds = {full, full.substr(0, full.find("&REV_"))},
            .present = present,
            .drivers = std::move(drivers)};
}

void AddServiceKey(const char* key, std::optional<std::string> imagePath) {
    kvxsim::AddKey(key);
    if (imagePath) kvxsim::SetStringValue(key, "ImagePath", *imagePath, REG_EXPAND_SZ);
}

void AddEventSource(const char* service) {
    kvxsim::AddKey(std::string(kEventSources) + service);
}

}  // namespace

std::string FamilyInf(const std::string& service) {
    return "; Copyright 2004, Kavexa Systems Inc\r\n"
           "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Multifunction\r\n"
           "Provider=%Maker%\r\n\r\n[Board.NT.Services]\r\nAddService=" +
           service + ",0x00000002,Board_Service\r\n\r\n[Board_Service]\r\nServiceBinary=%12%\\" +
           service + "win2k.sys\r\n\r\n[Strings]\r\nMaker=\"Kavexa Systems Inc\"\r\n";
}

void LeaveStopPending(const char* service) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE handle = OpenServiceA(manager, service, SERVICE_STOP);
    SERVICE_STATUS status;
    ControlService(handle, SERVICE_CONTROL_STOP, &status);
    CloseServiceHandle(handle);
    CloseServiceHandle(manager);
}

void BuildInstalledMachine() {
    kvxsim::AddService({.name = "tlxdaemon", .running = true});
    kvxsim::AddService({.name = "Dz4x", .running = true});
    kvxsim::AddService({.name = "Hx"});
    kvxsim::AddService({.name = "Hxhw", .running = true, .stopsSlowly = true});
    for (const char* service : {"Dz4x", "Hx", "Hxhw"}) AddEventSource(service);
    AddServiceKey(kDz4xServiceKey, "System32\\DRIVERS\\dz4xwin2k.sys");
    AddServiceKey(kHxhwServiceKey, "System32\\DRIVERS\\hxhwwin2k.sys");

    // The detail of the first board's driver does not fit 797 bytes; the phantom's two
    // drivers of ours share one INF, so the second deletion fails.
    kvxsim::AddDevice(Board("PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C&REV_01\\3&2411E6FE&0&48",
                            "dz4x",
                            {OurDriver("oem2.inf", kProvider, "PCI\\VEN_1011&DEV_0046"),
                             OurDriver("oem9.inf", "Other Vendor Ltd")}));
    kvxsim::AddDevice(
        Board("PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C&REV_02\\3&2411E6FE&0&50", "DZ4X",
              {OurDriver("oem4.inf", "KAVEXA SYSTEMS INC"), OurDriver("oem4.inf")}, false));
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_1011&DEV_0099\\3&2411E6FE&0&58",
                       .service = "dz4x",
                       .hardwareIds = {"PCI\\VEN_1011&DEV_0099"}});
    kvxsim::AddDevice(
        {.instanceId = "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C&REV_01\\3&2411E6FE&0&60",
         .service = "hxhw",
         .hardwareIds = {"pci\\ven_0e7c&dev_0002&subsys_05080e7c&rev_01",
                         "pci\\ven_0e7c&dev_0002&subsys_05080e7c"},
         .drivers = {OurDriver("oem3.inf")}});
    kvxsim::AddDevice(
        Board("PCI\\VEN_0E7C&DEV_0001&SUBSYS_00000E7C&REV_00\\3&2411E6FE&0&68", "hxhw"));
    kvxsim::AddDevice({.instanceId = "ACPI\\PNP0303\\4&1&0",
                       .service = "i8042prt",
                       .hardwareIds = {"ACPI\\PNP0303"}});
    kvxsim::AddDevice({.instanceId = "ROOT\\LEGACY_BEEP\\0000", .hardwareIds = {"ROOT\\BEEP"}});
    kvxsim::AddDevice({.instanceId = "ROOT\\HXHW\\0000", .service = "hxhw"});

    kvxsim::AddFile(InStore("oem1.inf"), "; Copyright 2003, Other Vendor Ltd\r\n[Version]\r\n");
    kvxsim::AddFile(InStore("oem1.pnf"), "PNF");
    kvxsim::AddFile(InStore("oem2.inf"), "; Copyright 2003, Kavexa Systems Inc\r\n[Version]\r\n");
    kvxsim::AddFile(InStore("oem2.pnf"), "PNF");
    kvxsim::AddFile(InStore("oem3.inf"), "; Copyright 2004, Kavexa Systems Inc\r\n[Version]\r\n");
    kvxsim::AddFile(InStore("oem4.inf"), "; Copyright 2001, Kavexa Systems Inc\r\n");
    kvxsim::AddFile(InStore("oem5.inf"), "; COPYRIGHT 2000, KAVEXA SYSTEMS INC\r\n[Version]\r\n");
    kvxsim::AddFile(InStore("oem5.pnf"), "PNF");
    kvxsim::AddFile(InStore("oem6.inf"), "; Copyright 2002");
    kvxsim::AddFile(InStore("oem7.inf"), "; Copyright 2002, Kavexa Systems Inc\n[Version]\n");
    kvxsim::AddFile(InStore("kvx.inf"), "[Version]\r\n");
    kvxsim::AddFile(InStore("kvx.pnf"), "PNF");
    for (const char* binary : {"hxwin2k.sys", "hxhwwin2k.sys", "dz4xwin2k.sys"}) {
        kvxsim::AddFile(std::string(kDrivers) + binary, "MZ");
    }
}

void BuildDamagedMachine() {
    kvxsim::AddService({.name = "Dz4x", .running = true, .stopsSlowly = true});
    LeaveStopPending("Dz4x");
    kvxsim::AddService(
        {.name = "Hx", .running = true, .stopError = ERROR_DEPENDENT_SERVICES_RUNNING});
    AddEventSource("Hx");
    AddServiceKey(kDz4xServiceKey, "\\??\\C:\\WINNT\\system32\\drivers\\dz4xwin2k.sys");
    AddServiceKey(kHxhwServiceKey, std::nullopt);
    kvxsim::AddDevice(Board("PCI\\VEN_1011&DEV_0046&SUBSYS_60020E7C&REV_01\\3&2411E6FE&0&48",
                            "dz4x", {OurDriver("oem2.inf")}));

    kvxsim::SetSystemDirectory("C:\\WINNT\\system32\\");
    kvxsim::AddFile(InStore("oem1.inf"), "; Copyright 2003, Other Vendor Ltd\r\n[Version]\r\n");
    kvxsim::AddFile(std::string(kDrivers) + "hxhwwin2k.sys", "MZ");
    kvxsim::LockFile(std::string(kDrivers) + "hxhwwin2k.sys");
}

void BuildUpgradeMachine() {
    kvxsim::AddFile(kDz4xInf, FamilyInf("dz4x"));
    kvxsim::AddFile("C:\\KVX\\DZ4X\\dz4xwin2k.sys", "MZ");
    kvxsim::AddFile(kHxInf, FamilyInf("hxhw"));
    kvxsim::AddFile("C:\\KVX\\HX\\hxhwwin2k.sys", "MZ");
    kvxsim::AddDevice(
        Board("PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C&REV_01\\3&2411E6FE&0&48", std::nullopt));
    kvxsim::AddDevice(
        Board("PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C&REV_01\\3&2411E6FE&0&50", std::nullopt));

    kvxsim::AddService({.name = "tlxdaemon", .running = true, .stopsSlowly = true});
    LeaveStopPending("tlxdaemon");
    kvxsim::AddService({.name = "Dz4x"});
    kvxsim::AddService(
        {.name = "Hxhw", .running = true, .stopError = ERROR_DEPENDENT_SERVICES_RUNNING});
    AddEventSource("Dz4x");
    AddServiceKey(kDz4xServiceKey, "System32\\DRIVERS\\dz4xwin2k.sys");
    AddServiceKey(kHxhwServiceKey, "System32\\DRIVERS\\hxhwwin2k.sys");
    kvxsim::AddDevice(Board("PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C&REV_01\\3&2411E6FE&0&40",
                            "dz4x", {OurDriver("oem0.inf")}));
    kvxsim::AddFile(InStore("oem0.inf"), "; Copyright 2002, Kavexa Systems Inc\r\n[Version]\r\n");
    kvxsim::AddFile(InStore("oem0.pnf"), "PNF");
    kvxsim::AddFile(std::string(kDrivers) + "dz4xwin2k.sys", "MZ");
}

}  // namespace reliability
