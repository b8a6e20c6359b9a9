// Taking a whole installation of both board families off the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "entry/exports.h"
#include "machine_fixture.h"

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Ge;
using ::testing::IsEmpty;

namespace {

constexpr const char* kDz4xKey = "SYSTEM\\CurrentControlSet\\Services\\dz4x";
constexpr const char* kHxhwKey = "SYSTEM\\CurrentControlSet\\Services\\hxhw";
constexpr const char* kEventSources = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\";
constexpr const char* kDrivers = "C:\\WINNT\\system32\\drivers\\";
constexpr const char* kProvider = "Kavexa Systems Inc";

// One board on each end of the first family's list, and one per prefix of the second.
constexpr const char* kDz4xFirst = "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C&REV_01\\3&2411E6FE&0&48";
constexpr const char* kDz4xLast = "PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C&REV_01\\3&2411E6FE&0&50";
constexpr const char* kHxOne = "PCI\\VEN_0E7C&DEV_0001&SUBSYS_00000E7C&REV_00\\3&2411E6FE&0&58";
constexpr const char* kHxTwo = "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C&REV_01\\3&2411E6FE&0&60";

std::string Sz(std::string_view text) {
    return std::string(text) + '\0';
}

void AddBoard(const char* instanceId, const char* service, const char* infName) {
    const std::string_view id(instanceId);
    const std::string full(id.substr(0, id.find("\\3&")));
    const std::string withoutRevision(full.substr(0, full.find("&REV_")));
    kvxsim::AddDevice({.instanceId = instanceId,
                       .service = service,
                       .hardwareIds = {full, withoutRevision},
                       .drivers = {{.description = "Kavexa board",
                                    .manufacturer = "Kavexa",
                                    .provider = kProvider,
                                    .infPath = std::string("C:\\WINNT\\inf\\") + infName,
                                    .section = "Board.NT",
                                    .hardwareId = withoutRevision}}});
}

bool Removed(const char* instanceId) {
    const std::optional<kvxsim::Device> device = kvxsim::FindDevice(instanceId);
    return device && device->removed;
}

// Both families installed and running, with a stale staged INF of an older release.
// `dz4xImagePath` and `hxhwImagePath` hold the raw bytes of each family's ImagePath value.
void InstallProduct(
    std::optional<std::string> dz4xImagePath = Sz("System32\\DRIVERS\\dz4xwin2k.sys"),
    std::optional<std::string> hxhwImagePath = Sz("System32\\DRIVERS\\hxhwwin2k.sys")) {
    kvxsim::AddService({.name = "tlxdaemon", .running = true});
    kvxsim::AddService({.name = "Dz4x", .running = true});
    kvxsim::AddService({.name = "Hx", .running = false});  // an older release's service
    kvxsim::AddService({.name = "Hxhw", .running = true});
    for (const char* service : {"Dz4x", "Hx", "Hxhw"}) {
        kvxsim::AddKey(std::string(kEventSources) + service);
    }
    kvxsim::AddKey(kDz4xKey);
    if (dz4xImagePath) kvxsim::SetValue(kDz4xKey, "ImagePath", REG_EXPAND_SZ, *dz4xImagePath);
    kvxsim::AddKey(kHxhwKey);
    if (hxhwImagePath) kvxsim::SetValue(kHxhwKey, "ImagePath", REG_EXPAND_SZ, *hxhwImagePath);

    AddBoard(kDz4xFirst, "dz4x", "oem2.inf");
    AddBoard(kDz4xLast, "dz4x", "oem2.inf");
    AddBoard(kHxOne, "hxhw", "oem3.inf");
    AddBoard(kHxTwo, "hxhw", "oem3.inf");

    for (const char* binary : {"hxwin2k.sys", "hxhwwin2k.sys", "dz4xwin2k.sys"}) {
        kvxsim::AddFile(std::string(kDrivers) + binary, "MZ");
    }
    kvxsim::AddFile("C:\\WINNT\\inf\\oem1.inf", "; Other Vendor Ltd\r\n[Version]\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem2.inf", "; Copyright 2003, Kavexa Systems Inc\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem3.inf", "; Copyright 2003, Kavexa Systems Inc\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem4.inf", "; Copyright 2001, Kavexa Systems Inc\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem4.pnf", "PNF");
    kvxsim::AddFile("C:\\WINNT\\inf\\kvx.inf", "[Version]\r\n");
}

// The driver binaries the sequence asked to delete, in order.
std::vector<std::string> DeletedBinaries() {
    std::vector<std::string> paths;
    for (const kvxsim::Call& call : kvxsim::Calls("DeleteFileA")) {
        const std::string& path = call.args.at(0);
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".sys") == 0) paths.push_back(path);
    }
    return paths;
}

class RemoveKvx : public MachineTest {};

TEST_F(RemoveKvx, TakesAnInstalledProductOffTheMachine) {
    InstallProduct();

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    for (const char* board : {kDz4xFirst, kDz4xLast, kHxOne, kHxTwo}) {
        EXPECT_TRUE(Removed(board)) << board;
    }
    for (const char* service : {"Dz4x", "Hx", "Hxhw"}) {
        EXPECT_FALSE(kvxsim::ServiceExists(service)) << service;
        EXPECT_FALSE(kvxsim::KeyExists(std::string(kEventSources) + service)) << service;
    }
    // The background service is only stopped: the product's installer owns it.
    ASSERT_TRUE(kvxsim::ServiceExists("tlxdaemon"));
    EXPECT_EQ(kvxsim::FindService("tlxdaemon")->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(kvxsim::CountCalls("DeleteService", "tlxdaemon"), 0);
    EXPECT_THAT(kvxsim::FilesIn(kDrivers), IsEmpty());
    for (const char* name : {"oem2.inf", "oem3.inf", "oem4.inf", "oem4.pnf", "kvx.inf"}) {
        EXPECT_FALSE(kvxsim::FileExists(std::string("C:\\WINNT\\inf\\") + name)) << name;
    }
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem1.inf"));
}

TEST_F(RemoveKvx, StepsRunInOrder) {
    InstallProduct();

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    const std::vector<int> lists = CallPositions("SetupDiGetClassDevsA");
    ASSERT_EQ(lists.size(), 14u) << kvxsim::JournalText();
    EXPECT_EQ(kvxsim::FindCall("OpenServiceA"), kvxsim::FindCall("OpenServiceA", "tlxdaemon"));
    const std::vector<int> steps = {
        kvxsim::FindCall("ControlService", "tlxdaemon"),
        // Each service key is closed before the devices of its family are touched.
        kvxsim::FindCall("RegCloseKey", kDz4xKey),
        lists[0],
        kvxsim::FindCall("SetupDiCallClassInstaller", kDz4xFirst),
        lists[11],
        kvxsim::FindCall("SetupDiCallClassInstaller", kDz4xLast),
        kvxsim::FindCall("ControlService", "Dz4x"),
        kvxsim::FindCall("DeleteService", "Dz4x"),
        kvxsim::FindCall("RegDeleteKeyA", std::string(kEventSources) + "Dz4x"),
        kvxsim::FindCall("DeleteService", "Hx"),
        kvxsim::FindCall("RegCloseKey", kHxhwKey),
        lists[12],
        kvxsim::FindCall("SetupDiCallClassInstaller", kHxOne),
        lists[13],
        kvxsim::FindCall("SetupDiCallClassInstaller", kHxTwo),
        kvxsim::FindCall("DeleteService", "Hxhw"),
        kvxsim::FindCall("FindFirstFileA"),
        kvxsim::FindCall("DeleteFileA", std::string(kDrivers) + "hxwin2k.sys"),
    };
    EXPECT_THAT(steps, Each(Ge(0)));
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end())) << kvxsim::JournalText();
    EXPECT_EQ(CallPositions("RegOpenKeyExA", kvxsim::Hex(KEY_READ)),
              CallPositions("RegOpenKeyExA"));
    // The first family's boards go with the first and the last of its twelve IDs.
    EXPECT_LT(kvxsim::FindCall("SetupDiCallClassInstaller", kDz4xFirst), lists[1]);
    EXPECT_THAT(DeletedBinaries(), ElementsAre(std::string(kDrivers) + "hxwin2k.sys",
                                               std::string(kDrivers) + "hxhwwin2k.sys",
                                               std::string(kDrivers) + "dz4xwin2k.sys"));
}

class RemoveKvxSystemDirectory : public MachineTest,
                                 public ::testing::WithParamInterface<const char*> {};

TEST_P(RemoveKvxSystemDirectory, BinariesAreDeletedFromItsDriversSubdirectory) {
    kvxsim::SetSystemDirectory(GetParam());

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    EXPECT_THAT(DeletedBinaries(), ElementsAre("D:\\WIN2K\\system32\\drivers\\hxwin2k.sys",
                                               "D:\\WIN2K\\system32\\drivers\\hxhwwin2k.sys",
                                               "D:\\WIN2K\\system32\\drivers\\dz4xwin2k.sys"));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTrailingBackslash, RemoveKvxSystemDirectory,
                         ::testing::Values("D:\\WIN2K\\system32", "D:\\WIN2K\\system32\\"));

TEST_F(RemoveKvx, FailingSystemDirectoryQueryDeletesNoBinary) {
    InstallProduct();
    kvxsim::FailCall("GetSystemDirectoryA", ERROR_ACCESS_DENIED, 1, 0);

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    EXPECT_THAT(DeletedBinaries(), IsEmpty());
    EXPECT_THAT(kvxsim::FilesIn(kDrivers),
                ElementsAre("dz4xwin2k.sys", "hxhwwin2k.sys", "hxwin2k.sys"));
}

TEST_F(RemoveKvx, SystemDirectoryTooLongForTheBufferDeletesNoBinary) {
    kvxsim::SetSystemDirectory("C:\\" + std::string(600, 'S'));

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    EXPECT_THAT(DeletedBinaries(), IsEmpty());
}

struct ImagePathCase {
    const char* name;
    std::optional<std::string> value;  // raw bytes; absent: the key has no ImagePath
    bool removesDevices;
};

void PrintTo(const ImagePathCase& imagePath, std::ostream* out) {
    *out << imagePath.name;
}

class RemoveKvxImagePath : public MachineTest,
                           public ::testing::WithParamInterface<ImagePathCase> {};

TEST_P(RemoveKvxImagePath, DecidesOnlyWhetherTheFirstFamilysDevicesGo) {
    InstallProduct(GetParam().value);

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    EXPECT_EQ(Removed(kDz4xFirst), GetParam().removesDevices);
    EXPECT_EQ(Removed(kDz4xLast), GetParam().removesDevices);
    EXPECT_EQ(kvxsim::CountCalls("SetupDiGetClassDevsA"), GetParam().removesDevices ? 14 : 2);
    // Everything after the first family's devices runs either way.
    EXPECT_FALSE(kvxsim::ServiceExists("Dz4x"));
    EXPECT_TRUE(Removed(kHxTwo));
    EXPECT_THAT(kvxsim::FilesIn(kDrivers), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, RemoveKvxImagePath,
    ::testing::Values(
        ImagePathCase{"NativePath", Sz("\\??\\C:\\WINNT\\system32\\drivers\\dz4xwin2k.sys"), false},
        ImagePathCase{"RelativePath", Sz("System32\\DRIVERS\\dz4xwin2k.sys"), true},
        ImagePathCase{"SystemRootPath", Sz("\\SystemRoot\\System32\\DRIVERS\\dz4xwin2k.sys"), true},
        ImagePathCase{"NoValue", std::nullopt, false},
        ImagePathCase{"Of260Bytes", Sz("System32\\DRIVERS\\" + std::string(242, 'x')), true},
        ImagePathCase{"Of261Bytes", Sz("System32\\DRIVERS\\" + std::string(243, 'x')), false},
        ImagePathCase{"Empty", std::string(), true},
        ImagePathCase{"OneBackslash", std::string("\\"), true}),
    [](const ::testing::TestParamInfo<ImagePathCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(RemoveKvx, SecondFamilysImagePathDecidesAlikeWhetherItsDevicesGo) {
    for (const std::optional<std::string>& hxhwImagePath :
         {std::optional(Sz("\\??\\C:\\WINNT\\system32\\drivers\\hxhwwin2k.sys")),
          std::optional<std::string>()}) {
        kvxsim::Reset();
        InstallProduct(Sz("System32\\DRIVERS\\dz4xwin2k.sys"), hxhwImagePath);

        EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

        EXPECT_FALSE(Removed(kHxOne));
        EXPECT_FALSE(Removed(kHxTwo));
        EXPECT_EQ(kvxsim::CountCalls("SetupDiGetClassDevsA"), 12);
        EXPECT_TRUE(Removed(kDz4xFirst));
        EXPECT_FALSE(kvxsim::ServiceExists("Hxhw"));
    }
}

TEST_F(RemoveKvx, ServiceThatRefusesToStopIsLeftInPlace) {
    kvxsim::AddService(
        {.name = "Hxhw", .running = true, .stopError = ERROR_DEPENDENT_SERVICES_RUNNING});
    kvxsim::AddKey(std::string(kEventSources) + "Hxhw");

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    ASSERT_TRUE(kvxsim::ServiceExists("Hxhw"));
    EXPECT_FALSE(kvxsim::FindService("Hxhw")->markedForDeletion);
    EXPECT_EQ(kvxsim::CountCalls("DeleteService"), 0);
    EXPECT_TRUE(kvxsim::KeyExists(std::string(kEventSources) + "Hxhw"));
}

TEST_F(RemoveKvx, MachineWithoutTheProductIsLeftAsItWas) {
    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    EXPECT_THAT(kvxsim::DebugOutput(), IsEmpty());
    EXPECT_EQ(kvxsim::CountCalls("SetupDiGetClassDevsA"), 0);
    EXPECT_EQ(kvxsim::CountCalls("DeleteService"), 0);
    EXPECT_THAT(DeletedBinaries(), testing::SizeIs(3));
}

TEST_F(RemoveKvx, SecondCallFindsNothingLeftAndClosesEverything) {
    InstallProduct();
    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);
    EXPECT_EQ(kvxsim::OpenResources().Total(), 0);
    kvxsim::ClearJournal();

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    EXPECT_EQ(kvxsim::CountCalls("SetupDiCallClassInstaller"), 0);
    EXPECT_EQ(kvxsim::CountCalls("DeleteService"), 0);
}

}  // namespace
