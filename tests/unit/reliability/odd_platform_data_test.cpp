// Platform answers that are legal but unusual: property data without terminators or with a
// size that does not fit it, sizes that keep growing, records filled to their field limits,
// directories at the length the queries can just hold, and a local heap that is empty. The
// sanitizer build proves that nothing is read or written past what the platform gave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "entry/exports.h"
#include "machine_fixture.h"
#include "reliability/machines.h"
#include "reliability/trace_checks.h"

using ::testing::ElementsAre;
using ::testing::Le;

namespace reliability {
namespace {

constexpr const char* kBoard = "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C\\4&1&0&08";
constexpr const char* kPrefix = "PCI\\VEN_0E7C&DEV_0002";

bool Removed(std::string_view instanceId) {
    const std::optional<kvxsim::Device> device = kvxsim::FindDevice(instanceId);
    return device && device->removed;
}

void AddHxBoard(const char* instanceId = kBoard, std::vector<kvxsim::Driver> drivers = {}) {
    kvxsim::AddDevice({.instanceId = instanceId,
                       .service = "hxhw",
                       .hardwareIds = {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C", kPrefix},
                       .drivers = std::move(drivers)});
}

ErrorCode RemoveHxBoards(const char* provider = kProvider) {
    return KVXSetup_RemoveDevices("hxhw", kPrefix, provider);
}

class OddPropertyData : public MachineTest {
protected:
    void TearDown() override {
        EXPECT_TRUE(TraceIsWellFormed(kvxsim::DebugOutput()));
        MachineTest::TearDown();
    }
};

TEST_F(OddPropertyData, ServiceNameWithoutTerminatorIsComparedWhole) {
    AddHxBoard("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08");
    AddHxBoard("PCI\\VEN_0E7C&DEV_0002\\4&1&0&10");
    AddHxBoard("PCI\\VEN_0E7C&DEV_0002\\4&1&0&18");
    kvxsim::SetServiceData("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08", "HXHW");
    kvxsim::SetServiceData("PCI\\VEN_0E7C&DEV_0002\\4&1&0&10", "hxh");
    kvxsim::SetServiceData("PCI\\VEN_0E7C&DEV_0002\\4&1&0&18", "hxhwx");

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("Comparing with Service"),
                ElementsAre("RemoveDevices: Comparing with Service \"HXHW\"\n",
                            "RemoveDevices: Comparing with Service \"hxh\"\n",
                            "RemoveDevices: Comparing with Service \"hxhwx\"\n"));
    EXPECT_TRUE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08"));
    EXPECT_FALSE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&10"));
    EXPECT_FALSE(Removed("PCI\\VEN_0E7C&DEV_0002\\4&1&0&18"));
}

// The hardware IDs are read into the block that held the service name. Bytes of the name
// beyond the IDs the platform reported are no part of them, in the comparison or the trace.
TEST_F(OddPropertyData, IdsShorterThanTheServiceNameShowOnlyTheirOwnBytes) {
    const char* service = "kavexa_hx_board_service";
    kvxsim::AddDevice({.instanceId = kBoard, .service = service, .hardwareIds = {kPrefix}});
    kvxsim::SetHardwareIdData(kBoard, "PCI\\VEN_0E7C");

    EXPECT_EQ(KVXSetup_RemoveDevices(service, "PCI\\VEN_0E7C&", kProvider), 0u);

    EXPECT_THAT(TraceLinesWith("Comparing with Device ID"),
                ElementsAre("RemoveDevices: Comparing with Device ID \"PCI\\VEN_0E7C\"\n"));
    EXPECT_FALSE(Removed(kBoard));
}

TEST_F(OddPropertyData, ReportedSizeBeyondTheDataAddsNoIds) {
    AddHxBoard();
    kvxsim::SetHardwareIdData(kBoard, std::string("PCI\\VEN_1234&DEV_0001\0", 22), 300);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(
        TraceLinesWith("Comparing with Device ID"),
        ElementsAre("RemoveDevices: Comparing with Device ID \"PCI\\VEN_1234&DEV_0001\"\n"));
    EXPECT_FALSE(Removed(kBoard));
}

TEST_F(OddPropertyData, ReportedSizeBelowTheDataCutsTheLastId) {
    AddHxBoard();
    const std::string ids("PCI\\VEN_1234&DEV_0001\0PCI\\VEN_0E7C&DEV_0002\0\0", 45);
    kvxsim::SetHardwareIdData(kBoard, ids, 30);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("Comparing with Device ID"),
                ElementsAre("RemoveDevices: Comparing with Device ID \"PCI\\VEN_1234&DEV_0001\"\n",
                            "RemoveDevices: Comparing with Device ID \"PCI\\VEN_\"\n"));
    EXPECT_FALSE(Removed(kBoard));
}

// A property that changes between every two queries must not keep the walk asking for ever,
// nor take ever larger blocks until the heap gives out.
TEST_F(OddPropertyData, RequiredSizeGrowingOnEveryQueryEndsThatDevicesQuery) {
    AddHxBoard();
    kvxsim::GrowPropertySize(INT_MAX, 1u << 20);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(kvxsim::CountCalls("SetupDiGetDeviceRegistryPropertyA"), Le(16));
    EXPECT_THAT(kvxsim::DebugOutput(),
                ElementsAre("SetupDiGetDeviceRegistryProperty(SVC) failed, err=122\n",
                            "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_FALSE(Removed(kBoard));
}

// No block can hold the size plus the two zero bytes kept after the data.
TEST_F(OddPropertyData, RequiredSizeBeyondAnyBlockFailsWithoutAskingTheHeap) {
    AddHxBoard();
    kvxsim::GrowPropertySize(1, 0xFFFFFFFFu - 5);  // "hxhw" needs 5 bytes

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(kvxsim::DebugOutput(), ElementsAre("LocalAlloc failed, err=8\n",
                                                   "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_EQ(kvxsim::CountCalls("LocalAlloc"), 0);
    EXPECT_FALSE(Removed(kBoard));
}

TEST_F(OddPropertyData, EmptyLocalHeapSkipsEveryDeviceOnce) {
    AddHxBoard("PCI\\VEN_0E7C&DEV_0002\\4&1&0&08");
    AddHxBoard("PCI\\VEN_0E7C&DEV_0002\\4&1&0&10");
    kvxsim::FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, 0);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(kvxsim::DebugOutput(),
                ElementsAre("LocalAlloc failed, err=8\n", "LocalAlloc failed, err=8\n",
                            "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_EQ(kvxsim::CountCalls("LocalFree"), 0);
}

// Driver records whose text fields are filled to their limits: 255 characters and the
// terminator for names, 259 for the INF path.
class FullDriverRecords : public MachineTest {
protected:
    void TearDown() override {
        EXPECT_TRUE(TraceIsWellFormed(kvxsim::DebugOutput()));
        MachineTest::TearDown();
    }
};

TEST_F(FullDriverRecords, LongestNamesAndPathStillDeleteTheInf) {
    const std::string provider(255, 'P');
    // "C:\\" and "\\oem8.inf" around the directory name make 259 characters.
    const std::string inf = "C:\\" + std::string(247, 'D') + "\\oem8.inf";
    ASSERT_EQ(inf.size(), 259u);
    kvxsim::AddFile(inf, "; Copyright 2004, Kavexa Systems Inc\r\n");
    AddHxBoard(kBoard, {{.description = std::string(255, 'd'),
                         .manufacturer = std::string(255, 'm'),
                         .provider = provider,
                         .infPath = inf,
                         .section = std::string(255, 's')}});

    EXPECT_EQ(RemoveHxBoards(provider.c_str()), 0u);

    EXPECT_FALSE(kvxsim::FileExists(inf));
    EXPECT_EQ(kvxsim::CountCalls("DeleteFileA", inf), 1);
    const std::vector<std::string> lines = TraceLinesWith("Driver 0: desc=\"ddd");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Driver 0: desc=\"" + std::string(238, 'd') + "\n");
    EXPECT_THAT(TraceLinesWith("InfFileName=\"C:\\DDD"),
                ElementsAre("InfFileName=\"C:\\" + std::string(238, 'D') + "\n"));
    EXPECT_TRUE(Removed(kBoard));
}

TEST_F(FullDriverRecords, ProviderLongerThanTheFieldMatchesNoDriver) {
    const std::string provider(300, 'P');
    kvxsim::AddFile("C:\\WINNT\\inf\\oem8.inf", "; Copyright 2004, Kavexa Systems Inc\r\n");
    AddHxBoard(kBoard, {{.description = "Hx PCI Board",
                         .provider = provider,
                         .infPath = "C:\\WINNT\\inf\\oem8.inf",
                         .section = "Hx.NT"}});

    EXPECT_EQ(RemoveHxBoards(provider.c_str()), 0u);

    // The platform's record holds the first 255 characters only: another provider's name.
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem8.inf"));
    EXPECT_TRUE(Removed(kBoard));
}

// Windows and system directories of every length around what a 520-byte query can hold.
struct DirectoryLength {
    const char* name;
    size_t length;
    bool trailingBackslash;
};

void PrintTo(const DirectoryLength& length, std::ostream* out) {
    *out << length.name;
}

class LongDirectories : public MachineTest, public ::testing::WithParamInterface<DirectoryLength> {
protected:
    static std::string Directory(char letter) {
        const DirectoryLength& length = GetParam();
        std::string directory = "C:\\" + std::string(length.length - 3, letter);
        if (length.trailingBackslash) directory.back() = '\\';
        return directory;
    }
};

TEST_P(LongDirectories, ProductFilesGoOnlyWhenTheQueryHeldTheDirectory) {
    const std::string windows = Directory('W');
    const std::string system = Directory('S');
    kvxsim::SetWindowsDirectory(windows);
    kvxsim::SetSystemDirectory(system);
    const std::string inf = kvxsim::InfDirectory() + "oem5.inf";
    const std::string binary = kvxsim::DriversDirectory() + "dz4xwin2k.sys";
    kvxsim::AddFile(inf, "; Copyright 2003, Kavexa Systems Inc\r\n");
    kvxsim::AddFile(binary, "MZ");

    EXPECT_EQ(KVXSetup_PnPRemoveKVX(), 0u);

    const bool fits = GetParam().length < 520;
    EXPECT_EQ(kvxsim::FileExists(inf), !fits);
    EXPECT_EQ(kvxsim::FileExists(binary), !fits);
    EXPECT_EQ(kvxsim::CountCalls("DeleteFileA") > 0, fits);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongDirectories,
                         ::testing::Values(DirectoryLength{"Of519", 519, false},
                                           DirectoryLength{"Of519EndingInBackslash", 519, true},
                                           DirectoryLength{"Of520", 520, false},
                                           DirectoryLength{"Of521", 521, false},
                                           DirectoryLength{"Of1043", 1043, false},
                                           DirectoryLength{"Of4096", 4096, false}),
                         [](const ::testing::TestParamInfo<DirectoryLength>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace reliability
