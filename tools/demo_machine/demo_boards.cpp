#include "demo_boards.h"

#include "catalog/catalog.h"
#include "win32_common/system_class.h"

namespace {

const DemoFamily kFamilies[] = {
    {"kvxdz4x.inf", Dz4xDeviceService, Dz4xDriverBinary, "Kavexa DZ4X board", Dz4xHardwareIds},
    {"kvxhxhw.inf", HxDeviceService, HxhwDriverBinary, "Kavexa HX board", HxHardwareIds},
};

// A PCI board reports its most specific ID first: with subsystem and revision, with
// subsystem, with revision, then vendor and device alone.
DemoBoard PciBoard(const char* name, const std::string& vendor_device, const char* subsystem,
                   const char* revision) {
    const std::string with_subsystem = vendor_device + "&SUBSYS_" + subsystem;
    return {name,
            {with_subsystem + "&REV_" + revision, with_subsystem,
             vendor_device + "&REV_" + revision, vendor_device}};
}

// One board for each vendor/device pair of the catalogue, so that every way the install
// matches (by subsystem ID, by plain device ID) is seen.
const DemoBoard kBoards[] = {
    PciBoard("KVXDZ4XA", "PCI\\VEN_1011&DEV_0046", "60000E7C", "01"),
    PciBoard("KVXDZ4XB", "PCI\\VEN_8086&DEV_B555", "65000E7C", "02"),
    PciBoard("KVXHX1", "PCI\\VEN_0E7C&DEV_0001", "00000E7C", "01"),
    PciBoard("KVXHX2", "PCI\\VEN_0E7C&DEV_0002", "05060E7C", "03"),
};

}  // namespace

std::span<const DemoFamily> DemoFamilies() {
    return kFamilies;
}
std::span<const DemoBoard> DemoBoards() {
    return kBoards;
}

std::string DemoInfText(const DemoFamily& family, const char* header_line,
                        const char* driver_version) {
    std::string text = header_line;
    const std::string service = family.service;
    text +=
        "; Demo driver package: registers the driver service of the boards below. It copies\r\n"
        "; no files, since the demo machine has no driver binaries to install.\r\n"
        "\r\n";
    text += kvxwin::SystemClassInfVersion(driver_version);
    text +=
        "\r\n"
        "[Manufacturer]\r\n"
        "%Provider%=Kavexa.Models\r\n"
        "\r\n"
        "[Kavexa.Models]\r\n";
    for (const char* id : family.hardware_ids) {
        text += "%BoardDesc%=Board.Install," + std::string(id) + "\r\n";
    }
    text +=
        "\r\n"
        "[Board.Install]\r\n"
        "\r\n"
        "[Board.Install.Services]\r\n"
        "AddService=" +
        service +
        ",0x00000002,Board.Service\r\n"
        "\r\n"
        "; Kernel driver, demand start, normal error control.\r\n"
        "[Board.Service]\r\n"
        "DisplayName=%BoardDesc%\r\n"
        "ServiceType=1\r\n"
        "StartType=3\r\n"
        "ErrorControl=1\r\n"
        "ServiceBinary=%12%\\" +
        family.binary +
        "\r\n"
        "\r\n"
        "[Strings]\r\n"
        "Provider=\"" +
        DriverProviderName +
        "\"\r\n"
        "BoardDesc=\"" +
        family.description + "\"\r\n";
    return text;
}
