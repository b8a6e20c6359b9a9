// The stand-in's device installation answers that the module's removal and install code
// depends on: sizes, growing queries, removal during a walk, staging and driver update.
#include <gtest/gtest.h>

#include <kvxsim/machine.h>

#include <string>
#include <vector>

namespace {

constexpr char kBoard[] = "PCI\\VEN_0E7C&DEV_0002\\4&1A2B3C&0&10F0";
constexpr char kBoardId[] = "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C";

constexpr char kInf[] =
    "; test INF of our own\r\n"
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Provider=%Maker%\r\n"
    "[Models]\r\n"
    "%Board.Desc% = Board_Install, PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C\r\n"
    "[Board_Install.Services]\r\n"
    "AddService = hxhw, 0x00000002, Board_Service\r\n"
    "[Board_Service]\r\n"
    "ServiceBinary = %12%\\hxhwwin2k.sys\r\n"
    "[Strings]\r\n"
    "Maker = \"Test Maker Ltd\"\r\n"
    "Board.Desc = \"Test board\"\r\n";

class SimDevices : public ::testing::Test {
protected:
    void SetUp() override { kvxsim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(kvxsim::OpenResources().Total(), 0) << kvxsim::JournalText();
    }

    // A list of every device with its first element read, for tests that act on one device.
    static HDEVINFO OpenFirst(SP_DEVINFO_DATA* device) {
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        device->cbSize = sizeof *device;
        EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, device));
        return set;
    }
};

TEST_F(SimDevices, RecordsHaveThe32BitWindowsSizes) {
    EXPECT_EQ(sizeof(SP_DEVINFO_DATA), 28u);
    EXPECT_EQ(sizeof(SP_DRVINFO_DATA_V2_A), 796u);
    EXPECT_EQ(sizeof(SP_DRVINFO_DETAIL_DATA_A), 797u);
}

TEST_F(SimDevices, DetailOf797BytesIsTooSmallButFillsTheFixedFields) {
    kvxsim::AddDevice({.instanceId = kBoard,
                       .service = "hxhw",
                       .hardwareIds = {kBoardId},
                       .drivers = {{.description = "Board",
                                    .provider = "Test Maker Ltd",
                                    .infPath = "C:\\WINNT\\inf\\oem3.inf",
                                    .section = "Board_Install",
                                    .hardwareId = kBoardId}}});
    SP_DEVINFO_DATA device;
    HDEVINFO set = OpenFirst(&device);
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
    SP_DRVINFO_DATA_V2_A driver{};
    driver.cbSize = sizeof driver;
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, 0, &driver));
    EXPECT_STREQ(driver.ProviderName, "Test Maker Ltd");

    SP_DRVINFO_DETAIL_DATA_A detail{};
    detail.cbSize = sizeof detail;
    DWORD required = sizeof detail;
    EXPECT_FALSE(
        SetupDiGetDriverInfoDetailA(set, &device, &driver, &detail, sizeof detail, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 796u + sizeof kBoardId + 1);
    EXPECT_STREQ(detail.InfFileName, "C:\\WINNT\\inf\\oem3.inf");
    EXPECT_STREQ(detail.SectionName, "Board_Install");

    // A wrong cbSize or a buffer below the record's size is a different failure.
    detail.cbSize = 796;
    EXPECT_FALSE(SetupDiGetDriverInfoDetailA(set, &device, &driver, &detail, 797, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    EXPECT_FALSE(SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, 1, &driver));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(kvxsim::OpenResources().driverLists, 1);
    EXPECT_TRUE(SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SimDevices, PropertyQueryReportsRequiredSizeAndCanGrow) {
    kvxsim::AddDevice({.instanceId = kBoard, .service = "hxhw", .hardwareIds = {kBoardId}});
    SP_DEVINFO_DATA device;
    HDEVINFO set = OpenFirst(&device);
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr, nullptr, 0,
                                                   &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 5u);

    // Two more refusals, each asking for more than the buffer just offered.
    kvxsim::GrowPropertySize(2, 8);
    BYTE buffer[64] = {};
    DWORD size = required;
    for (int refusal = 0; refusal < 2; ++refusal) {
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr,
                                                       buffer, size, &required));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_GT(required, size);
        size = required;
    }
    ASSERT_LE(size, sizeof buffer);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, buffer,
                                                  size, &required));
    EXPECT_EQ(required, sizeof kBoardId + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), required),
              std::string(kBoardId, sizeof kBoardId) + '\0');
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SimDevices, MissingPropertyAndUnterminatedHardwareIds) {
    kvxsim::AddDevice({.instanceId = kBoard, .hardwareIds = {kBoardId}});
    kvxsim::SetHardwareIdData(kBoard, "PCI\\VEN_0E7C");  // no terminator at all
    SP_DEVINFO_DATA device;
    HDEVINFO set = OpenFirst(&device);
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr, nullptr, 0,
                                                   &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, nullptr,
                                                   0, &required));
    EXPECT_EQ(required, 12u);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SimDevices, RemovalDuringAWalkKeepsLaterIndices) {
    for (const char* id : {"ROOT\\A\\0000", "ROOT\\B\\0000", "ROOT\\C\\0000"}) {
        kvxsim::AddDevice({.instanceId = id, .service = "svc", .hardwareIds = {id}});
    }
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &device));
    EXPECT_TRUE(kvxsim::FindDevice("ROOT\\A\\0000")->removed);

    // The removed element is still there, gone from the machine; B is still at 1.
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr, nullptr, 0,
                                                   &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &device));
    EXPECT_EQ(device.DevInst, kvxsim::FindDevice("ROOT\\B\\0000")->devInst);
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 2, &device));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 3, &device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    device.cbSize = 32;  // a 64-bit record
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    // A fresh list no longer holds it.
    set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    device.cbSize = sizeof device;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 2, &device));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SimDevices, ListsAreInInstanceOrderAndPresentOnlyOnRequest) {
    kvxsim::AddDevice({.instanceId = "ROOT\\Z\\0000"});
    const DEVINST phantom = kvxsim::AddDevice({.instanceId = "root\\m\\0000", .present = false});
    const DEVINST first = kvxsim::AddDevice({.instanceId = "ROOT\\A\\0000"});
    auto devnodes = [](DWORD flags) {
        std::vector<DEVINST> nodes;
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i)
            nodes.push_back(device.DevInst);
        SetupDiDestroyDeviceInfoList(set);
        return nodes;
    };
    const std::vector<DEVINST> all = devnodes(DIGCF_ALLCLASSES);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], first);
    EXPECT_EQ(all[1], phantom);
    EXPECT_EQ(devnodes(DIGCF_ALLCLASSES | DIGCF_PRESENT).size(), 2u);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
}

TEST_F(SimDevices, StagingReusesAnIdenticalInfAndNumbersNewOnes) {
    kvxsim::AddFile("C:\\src\\a.inf", kInf);
    kvxsim::AddFile("C:\\src\\b.inf", "[Version]\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem0.inf", "someone else's");
    char dest[256];
    DWORD required = 0;
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\src\\a.inf", nullptr, SPOST_PATH, SP_COPY_FORCE_IN_USE, dest,
                                 sizeof dest, &required, nullptr));
    EXPECT_STREQ(dest, "C:\\WINNT\\inf\\oem1.inf");
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\INF\\OEM1.PNF"));
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\src\\a.inf", nullptr, SPOST_PATH, 0, dest, sizeof dest,
                                 &required, nullptr));
    EXPECT_STREQ(dest, "C:\\WINNT\\inf\\oem1.inf");

    char small[8];
    EXPECT_FALSE(SetupCopyOEMInfA("C:\\src\\b.inf", nullptr, SPOST_PATH, 0, small, sizeof small,
                                  &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, sizeof "C:\\WINNT\\inf\\oem2.inf");

    EXPECT_FALSE(SetupCopyOEMInfA("C:\\src\\none.inf", nullptr, SPOST_PATH, 0, dest, sizeof dest,
                                  &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(kvxsim::Calls("SetupCopyOEMInfA")[0].args[2], "0x200");
}

TEST_F(SimDevices, DriverUpdateInstallsOnPresentMatchingDevicesOnly) {
    kvxsim::AddFile("C:\\src\\hx.inf", kInf);
    kvxsim::AddDevice(
        {.instanceId = kBoard, .hardwareIds = {"pci\\ven_0e7c&dev_0002&subsys_05060e7c"}});
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_0E7C&DEV_0002\\GHOST",
                       .hardwareIds = {kBoardId},
                       .present = false});
    BOOL reboot = TRUE;
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kBoardId, "C:\\src\\hx.inf",
                                                   INSTALLFLAG_FORCE, &reboot));

    const auto board = kvxsim::FindDevice(kBoard);
    EXPECT_EQ(board->service, "hxhw");
    ASSERT_EQ(board->drivers.size(), 1u);
    EXPECT_EQ(board->drivers[0].provider, "Test Maker Ltd");
    EXPECT_EQ(board->drivers[0].description, "Test board");
    EXPECT_EQ(board->drivers[0].infPath, "C:\\WINNT\\inf\\oem0.inf");
    EXPECT_FALSE(kvxsim::FindDevice("PCI\\VEN_0E7C&DEV_0002\\GHOST")->service);
    EXPECT_TRUE(kvxsim::ServiceExists("HXHW"));
    EXPECT_EQ(
        kvxsim::FindValue("SYSTEM\\CurrentControlSet\\Services\\hxhw", "ImagePath")->data,
        std::string("System32\\DRIVERS\\hxhwwin2k.sys", sizeof "System32\\DRIVERS\\hxhwwin2k.sys"));
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\system32\\drivers\\hxhwwin2k.sys"));

    // A prefix is not a hardware ID, and a missing INF comes first.
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "PCI\\VEN_0E7C&DEV_0002",
                                                    "C:\\src\\hx.inf", 0, &reboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    EXPECT_FALSE(
        UpdateDriverForPlugAndPlayDevicesA(nullptr, kBoardId, "C:\\src\\gone.inf", 0, &reboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(kvxsim::CountCalls("UpdateDriverForPlugAndPlayDevicesA", kBoardId), 2);
}

TEST_F(SimDevices, LocateAndReenumerateTheRoot) {
    DEVINST root = 0;
    ASSERT_EQ(CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_PHANTOM),
              static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL),
              static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(kvxsim::Calls("CM_Reenumerate_DevNode")[0].Text(),
              "CM_Reenumerate_DevNode(0x1, 0x0)");
    kvxsim::SetLocateRootResult(CR_FAILURE);
    EXPECT_EQ(CM_Locate_DevNodeA(&root, nullptr, 0), static_cast<CONFIGRET>(CR_FAILURE));
}

}  // namespace
