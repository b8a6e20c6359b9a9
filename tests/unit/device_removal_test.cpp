// Removing the devices of one driver service by hardware-ID prefix, with the INF files of
// their driver packages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <stddef.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "entry/exports.h"
#include "machine_fixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr const char* kProvider = "Kavexa Systems Inc";
constexpr const char* kHxPrefix = "PCI\\VEN_0E7C&DEV_0002";
constexpr const char* kBoardModel = "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C&REV_01";

// Instance IDs sort in slot order, which is the order the platform lists the boards in.
std::string BoardAt(std::string_view slot) {
    return std::string(kBoardModel) + "\\" + std::string(slot);
}

kvxsim::Driver ProductDriver(std::string infPath, std::string provider = kProvider) {
    return {.description = "Hx PCI Board",
            .manufacturer = "Kavexa",
            .provider = std::move(provider),
            .infPath = std::move(infPath),
            .section = "HxBoard.NT",
            .hardwareId = {}};
}

// A second-family board as the platform reports it: most specific hardware ID first.
kvxsim::Device HxBoard(std::string_view slot, std::vector<kvxsim::Driver> drivers = {}) {
    return {.instanceId = BoardAt(slot),
            .service = "hxhw",
            .hardwareIds = {kBoardModel, "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C",
                            "PCI\\VEN_0E7C&DEV_0002&CC_078000", "PCI\\VEN_0E7C&DEV_0002&CC_0780"},
            .drivers = std::move(drivers)};
}

kvxsim::Device OtherDevice(std::string instanceId, std::optional<std::string> service,
                           std::vector<std::string> ids = {"ACPI\\PNP0303"}) {
    return {.instanceId = std::move(instanceId),
            .service = std::move(service),
            .hardwareIds = std::move(ids)};
}

// The line for a board's first hardware ID, the one that matches.
const std::string kBoardIdLine =
    "RemoveDevices: Comparing with Device ID \"" + std::string(kBoardModel) + "\"\n";

bool Removed(std::string_view instanceId) {
    const std::optional<kvxsim::Device> device = kvxsim::FindDevice(instanceId);
    return device && device->removed;
}

ErrorCode RemoveHxBoards(const char* prefix = kHxPrefix) {
    return KVXSetup_RemoveDevices("hxhw", prefix, kProvider);
}

std::vector<std::string> FirstTraceLines(size_t count) {
    std::vector<std::string> output = kvxsim::DebugOutput();
    if (output.size() > count) output.resize(count);
    return output;
}

// The lines written for the driver packages of the only board on the machine: everything
// between its match and the end of the device walk.
std::vector<std::string> PackageLines() {
    const std::vector<std::string> output = kvxsim::DebugOutput();
    if (output.size() < 5) return output;
    return {output.begin() + 4, output.end() - 1};
}

class RemoveDevices : public MachineTest {};

TEST_F(RemoveDevices, TypicalRunTracesEachStepAndLeavesOtherDevices) {
    kvxsim::AddFile("C:\\WINNT\\inf\\oem3.inf", "; Copyright 2003, Kavexa Systems Inc\r\n");
    kvxsim::AddDevice(HxBoard("4&1&0&08", {ProductDriver("C:\\WINNT\\inf\\oem3.inf")}));
    kvxsim::AddDevice(OtherDevice("ACPI\\PNP0303\\4&1&0", "i8042prt"));
    kvxsim::AddDevice(OtherDevice("ROOT\\LEGACY_BEEP\\0000", std::nullopt));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(kvxsim::DebugOutput(),
                ElementsAre("RemoveDevices: Comparing with Service \"i8042prt\"\n",
                            "RemoveDevices: Comparing with Service \"hxhw\"\n",
                            "RemoveDevices: Service matches\n", kBoardIdLine,
                            "RemoveDevices: Match found\n",
                            "Driver 0: desc=\"Hx PCI Board\" provider=\"Kavexa Systems Inc\"\n",
                            "Driver provider matches\n",
                            "InfFileName=\"C:\\WINNT\\inf\\oem3.inf\", section=\"HxBoard.NT\"\n",
                            "Last Error: 103(259)\n", "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
    EXPECT_FALSE(Removed("ACPI\\PNP0303\\4&1&0"));
    EXPECT_FALSE(Removed("ROOT\\LEGACY_BEEP\\0000"));
    EXPECT_FALSE(kvxsim::FileExists("C:\\WINNT\\inf\\oem3.inf"));
    // The driver package goes first: once the device is removed its drivers are unknown.
    const int removal = kvxsim::FindCall("SetupDiCallClassInstaller", BoardAt("4&1&0&08"));
    EXPECT_LT(kvxsim::FindCall("DeleteFileA", "C:\\WINNT\\inf\\oem3.inf"), removal);
    EXPECT_EQ(kvxsim::CountCalls("SetupDiCallClassInstaller"), 1);
    EXPECT_EQ(kvxsim::CountCalls("SetupDiDestroyDeviceInfoList"), 1);
    EXPECT_EQ(CallPositions("LocalAlloc", kvxsim::Hex(LMEM_ZEROINIT)), CallPositions("LocalAlloc"));
    // The hardware IDs are first asked for in the block and with the size that the
    // service name left: "hxhw" and its terminator, no new block in between.
    const std::vector<int> hardwareIdQueries =
        CallPositions("SetupDiGetDeviceRegistryPropertyA", kvxsim::Hex(SPDRP_HARDWAREID));
    ASSERT_FALSE(hardwareIdQueries.empty());
    const kvxsim::Call firstIdQuery = kvxsim::Journal()[hardwareIdQueries[0]];
    EXPECT_THAT(firstIdQuery.args,
                ElementsAre(BoardAt("4&1&0&08"), kvxsim::Hex(SPDRP_HARDWAREID), kvxsim::Hex(5)));
    const int lastServiceQuery =
        CallPositions("SetupDiGetDeviceRegistryPropertyA", kvxsim::Hex(SPDRP_SERVICE)).back();
    EXPECT_LT(kvxsim::FindCall("LocalAlloc", {}, lastServiceQuery), 0);
}

TEST_F(RemoveDevices, EmptyPrefixMatchesTheFirstIdOfEveryDeviceOfTheService) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));
    kvxsim::AddDevice(
        OtherDevice("PCI\\VEN_8086&DEV_7110\\0&0&38", "isapnp", {"PCI\\VEN_8086&DEV_7110"}));

    EXPECT_EQ(RemoveHxBoards(""), 0u);

    EXPECT_THAT(TraceLinesWith("Comparing with Device ID"),
                ElementsAre(kBoardIdLine, kBoardIdLine));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
    EXPECT_FALSE(Removed("PCI\\VEN_8086&DEV_7110\\0&0&38"));
}

TEST_F(RemoveDevices, PrefixFoundOnlyInsideAnIdDoesNotMatch) {
    kvxsim::AddDevice(OtherDevice("MF\\CHILD0000\\5&1&0", "hxhw",
                                  {"MF\\PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C", "MF\\HX_PORT"}));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("Comparing with Device ID"), testing::SizeIs(2));
    EXPECT_THAT(TraceLinesWith("Match found"), IsEmpty());
    EXPECT_FALSE(Removed("MF\\CHILD0000\\5&1&0"));
}

TEST_F(RemoveDevices, LongerIdsAndOtherLetterCasesMatch) {
    kvxsim::AddDevice(
        OtherDevice("PCI\\A\\1", "hxhw", {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05150E7C&REV_03"}));
    kvxsim::AddDevice(OtherDevice("PCI\\B\\1", "hxhw", {"pci\\ven_0e7c&dev_0002&subsys_05150e7c"}));
    kvxsim::AddDevice(OtherDevice("PCI\\C\\1", "HXHW", {"PCI\\VEN_0E7C&DEV_0002"}));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_TRUE(Removed("PCI\\A\\1"));
    EXPECT_TRUE(Removed("PCI\\B\\1"));
    EXPECT_TRUE(Removed("PCI\\C\\1"));
}

TEST_F(RemoveDevices, DevicesOfOtherServicesStayWithTheirComparisonLines) {
    // Neither a shorter nor a longer service name may pass as "hxhw".
    kvxsim::AddDevice(OtherDevice("PCI\\A\\1", "hx", {kBoardModel}));
    kvxsim::AddDevice(OtherDevice("PCI\\B\\1", "hxhw2", {kBoardModel}));

    EXPECT_EQ(RemoveHxBoards(""), 0u);

    EXPECT_THAT(kvxsim::DebugOutput(),
                ElementsAre("RemoveDevices: Comparing with Service \"hx\"\n",
                            "RemoveDevices: Comparing with Service \"hxhw2\"\n",
                            "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_FALSE(Removed("PCI\\A\\1"));
    EXPECT_FALSE(Removed("PCI\\B\\1"));
}

TEST_F(RemoveDevices, DevicesWithoutServiceOrHardwareIdsAreSkippedSilently) {
    kvxsim::AddDevice(OtherDevice("ROOT\\LEGACY_BEEP\\0000", std::nullopt, {kBoardModel}));
    kvxsim::AddDevice(OtherDevice("ROOT\\HXHW\\0000", "hxhw", {}));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(
        kvxsim::DebugOutput(),
        ElementsAre("RemoveDevices: Comparing with Service \"hxhw\"\n",
                    "RemoveDevices: Service matches\n", "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_FALSE(Removed("ROOT\\LEGACY_BEEP\\0000"));
    EXPECT_FALSE(Removed("ROOT\\HXHW\\0000"));
}

// A property of length 0 is answered without any block: it must trace and compare as "".
TEST_F(RemoveDevices, ZeroLengthServiceAndHardwareIdsReadAsEmptyStrings) {
    kvxsim::AddDevice(OtherDevice("ROOT\\UNNAMED\\0000", "", {kBoardModel}));
    kvxsim::AddDevice(OtherDevice("ROOT\\UNNAMED\\0001", "", {kBoardModel}));
    kvxsim::SetServiceData("ROOT\\UNNAMED\\0000", "");
    kvxsim::SetServiceData("ROOT\\UNNAMED\\0001", "");
    kvxsim::SetHardwareIdData("ROOT\\UNNAMED\\0001", "");

    EXPECT_EQ(KVXSetup_RemoveDevices("", kHxPrefix, kProvider), 0u);

    EXPECT_THAT(
        kvxsim::DebugOutput(),
        ElementsAre("RemoveDevices: Comparing with Service \"\"\n",
                    "RemoveDevices: Service matches\n", kBoardIdLine,
                    "RemoveDevices: Match found\n", "Last Error: 103(259)\n",
                    "RemoveDevices: Comparing with Service \"\"\n",
                    "RemoveDevices: Service matches\n", "SetupDiEnumDeviceInfo - no more items\n"));
    EXPECT_TRUE(Removed("ROOT\\UNNAMED\\0000"));
    EXPECT_FALSE(Removed("ROOT\\UNNAMED\\0001"));
}

TEST_F(RemoveDevices, OneRemovalPerDeviceAndLaterDevicesStillVisited) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(OtherDevice(std::string(kBoardModel) + "\\4&1&0&09", "serial"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    // Every ID of a board begins with the prefix; only the first is looked at.
    EXPECT_THAT(TraceLinesWith("Match found"), testing::SizeIs(2));
    EXPECT_EQ(kvxsim::CountCalls("SetupDiCallClassInstaller"), 2);
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&09")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
}

TEST_F(RemoveDevices, FailingRemovalIsTracedAndTheWalkGoesOn) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));
    kvxsim::FailCall("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("SetupDiCallClassInstaller"),
                ElementsAre("SetupDiCallClassInstaller failed, err=5\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
}

TEST_F(RemoveDevices, DeviceListFailureReturnsItsError) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::FailCall("SetupDiGetClassDevsA", ERROR_ACCESS_DENIED);

    // The trace itself changes the last error: the result must be the one read before.
    EXPECT_EQ(RemoveHxBoards(), static_cast<ErrorCode>(ERROR_ACCESS_DENIED));

    EXPECT_THAT(kvxsim::DebugOutput(), ElementsAre("GetClassDevs failed, err=5\n"));
    EXPECT_EQ(kvxsim::CountCalls("SetupDiEnumDeviceInfo"), 0);
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));

    // Without an error code the failure is still no success.
    kvxsim::ClearDebugOutput();
    kvxsim::FailCall("SetupDiGetClassDevsA", ERROR_SUCCESS);
    EXPECT_EQ(RemoveHxBoards(), 2u);
    EXPECT_THAT(kvxsim::DebugOutput(), ElementsAre("GetClassDevs failed, err=0\n"));
}

TEST_F(RemoveDevices, EnumerationEndingOnAnotherErrorIsTracedWithIt) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::FailCall("SetupDiEnumDeviceInfo", ERROR_INVALID_HANDLE);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(kvxsim::DebugOutput(), ElementsAre("SetupDiEnumDeviceInfo failed, err=6\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
}

TEST_F(RemoveDevices, FailingServiceQueryIsTracedAndTheNextDeviceHandled) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));
    kvxsim::FailCall("SetupDiGetDeviceRegistryPropertyA", ERROR_GEN_FAILURE);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(FirstTraceLines(2),
                ElementsAre("SetupDiGetDeviceRegistryProperty(SVC) failed, err=31\n",
                            "RemoveDevices: Comparing with Service \"hxhw\"\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
}

TEST_F(RemoveDevices, FailingHardwareIdQueryIsTracedAndTheNextDeviceHandled) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));
    // The service name takes two queries: one for its size, one for the text.
    kvxsim::FailCall("SetupDiGetDeviceRegistryPropertyA", ERROR_GEN_FAILURE, 3);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(FirstTraceLines(3),
                ElementsAre("RemoveDevices: Comparing with Service \"hxhw\"\n",
                            "RemoveDevices: Service matches\n",
                            "SetupDiGetDeviceRegistryProperty(HWID) failed, err=31\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
}

class RemoveDriverPackages : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        for (const char* name : {"oem1.inf", "oem7.inf", "oem8.inf"}) {
            kvxsim::AddFile(std::string("C:\\WINNT\\inf\\") + name, "[Version]\r\n");
        }
    }
};

TEST_F(RemoveDriverPackages, EveryDriverOfTheProviderInAnyCaseLosesItsInf) {
    kvxsim::Driver other = ProductDriver("C:\\WINNT\\inf\\oem1.inf", "Other Vendor Ltd");
    other.description = "Generic board";
    kvxsim::AddDevice(
        HxBoard("4&1&0&08", {other, ProductDriver("C:\\WINNT\\inf\\oem7.inf", "KAVEXA SYSTEMS INC"),
                             ProductDriver("C:\\WINNT\\inf\\oem8.inf")}));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(PackageLines(),
                ElementsAre("Driver 0: desc=\"Generic board\" provider=\"Other Vendor Ltd\"\n",
                            "Driver 1: desc=\"Hx PCI Board\" provider=\"KAVEXA SYSTEMS INC\"\n",
                            "Driver provider matches\n",
                            "InfFileName=\"C:\\WINNT\\inf\\oem7.inf\", section=\"HxBoard.NT\"\n",
                            "Driver 2: desc=\"Hx PCI Board\" provider=\"Kavexa Systems Inc\"\n",
                            "Driver provider matches\n",
                            "InfFileName=\"C:\\WINNT\\inf\\oem8.inf\", section=\"HxBoard.NT\"\n",
                            "Last Error: 103(259)\n"));
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem1.inf"));
    EXPECT_FALSE(kvxsim::FileExists("C:\\WINNT\\inf\\oem7.inf"));
    EXPECT_FALSE(kvxsim::FileExists("C:\\WINNT\\inf\\oem8.inf"));
}

// The precompiled file goes with its INF, and only then: a refused INF keeps it, a name that
// does not end in ".inf" names none, and the trace has no line for it.
TEST_F(RemoveDriverPackages, PrecompiledInfGoesOnlyWithItsInf) {
    for (const char* name : {"oem7.pnf", "oem8.PNF", "oem9.pnf", "kvxhx.pnf"}) {
        kvxsim::AddFile(std::string("C:\\WINNT\\inf\\") + name, "PNF");
    }
    kvxsim::AddFile("C:\\WINNT\\inf\\oem9.inf", "[Version]\r\n");
    kvxsim::AddFile("C:\\WINNT\\inf\\kvxhx.infx", "[Version]\r\n");
    kvxsim::AddDevice(HxBoard(
        "4&1&0&08",
        {ProductDriver("C:\\WINNT\\inf\\oem7.inf"), ProductDriver("C:\\WINNT\\inf\\OEM8.INF"),
         ProductDriver("C:\\WINNT\\inf\\oem9.inf"), ProductDriver("C:\\WINNT\\inf\\kvxhx.infx")}));
    kvxsim::FailCall("DeleteFileA", ERROR_SHARING_VIOLATION, 5);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("DeleteFile"), ElementsAre("DeleteFile failed, err=32\n"));
    EXPECT_THAT(kvxsim::FilesIn("C:\\WINNT\\inf"),
                ElementsAre("kvxhx.pnf", "oem1.inf", "oem9.inf", "oem9.pnf"));
}

TEST_F(RemoveDriverPackages, DetailTooLargeForTheRecordStillDeletesTheInf) {
    kvxsim::Driver driver = ProductDriver("C:\\WINNT\\inf\\oem7.inf");
    driver.hardwareId = kHxPrefix;
    kvxsim::AddDevice(HxBoard("4&1&0&08", {driver}));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    // The record's fixed part, then the driver's hardware ID as a multi-string.
    const size_t required =
        offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID) + std::string_view(kHxPrefix).size() + 2;
    EXPECT_THAT(PackageLines(),
                ElementsAre("Driver 0: desc=\"Hx PCI Board\" provider=\"Kavexa Systems Inc\"\n",
                            "Driver provider matches\n",
                            "SetupDiGetDriverInfoDetail actual size = 797, required=" +
                                std::to_string(required) + "\n",
                            "InfFileName=\"C:\\WINNT\\inf\\oem7.inf\", section=\"HxBoard.NT\"\n",
                            "Last Error: 103(259)\n"));
    EXPECT_FALSE(kvxsim::FileExists("C:\\WINNT\\inf\\oem7.inf"));
}

TEST_F(RemoveDriverPackages, OtherDetailErrorKeepsTheInf) {
    kvxsim::AddDevice(HxBoard("4&1&0&08", {ProductDriver("C:\\WINNT\\inf\\oem7.inf")}));
    kvxsim::FailCall("SetupDiGetDriverInfoDetailA", ERROR_INVALID_USER_BUFFER);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("SetupDiGetDriverInfoDetail"),
                ElementsAre("SetupDiGetDriverInfoDetail failed, err=1784\n"));
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem7.inf"));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
}

TEST_F(RemoveDriverPackages, SecondDeletionOfASharedInfFailsAndIsTraced) {
    kvxsim::AddDevice(HxBoard("4&1&0&08", {ProductDriver("C:\\WINNT\\inf\\oem7.inf"),
                                           ProductDriver("C:\\WINNT\\inf\\oem7.inf")}));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(TraceLinesWith("DeleteFile"), ElementsAre("DeleteFile failed, err=2\n"));
    EXPECT_FALSE(kvxsim::FileExists("C:\\WINNT\\inf\\oem7.inf"));
}

TEST_F(RemoveDriverPackages, DeviceWithoutCompatibleDriversTracesOnlyTheEnd) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(PackageLines(), ElementsAre("Last Error: 103(259)\n"));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
}

TEST_F(RemoveDriverPackages, FailingDriverListStillRemovesTheDevice) {
    kvxsim::AddDevice(HxBoard("4&1&0&08", {ProductDriver("C:\\WINNT\\inf\\oem7.inf")}));
    kvxsim::FailCall("SetupDiBuildDriverInfoList", ERROR_ACCESS_DENIED);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(PackageLines(), ElementsAre("SetupDiBuildDriverInfoList failed, err=5\n"));
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem7.inf"));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
}

// Hardware-ID data as odd platforms return it. The sanitizer build proves that no walk
// reads past the reported bytes.
class HardwareIdWalk : public MachineTest {};

TEST_F(HardwareIdWalk, UnterminatedIdsAreComparedOnlyUpToTheirEnd) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));
    kvxsim::SetHardwareIdData(BoardAt("4&1&0&08"), "PCI\\VEN_0E7C&DEV_00");
    kvxsim::SetHardwareIdData(BoardAt("4&1&0&10"), kHxPrefix);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(
        TraceLinesWith("Comparing with Device ID"),
        ElementsAre("RemoveDevices: Comparing with Device ID \"PCI\\VEN_0E7C&DEV_00\"\n",
                    "RemoveDevices: Comparing with Device ID \"PCI\\VEN_0E7C&DEV_0002\"\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
}

TEST_F(HardwareIdWalk, NothingAfterTheDoubleTerminatorIsAnId) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    const std::string data("PCI\\VEN_1234&DEV_0001\0\0PCI\\VEN_0E7C&DEV_0002\0\0", 47);
    kvxsim::SetHardwareIdData(BoardAt("4&1&0&08"), data);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(
        TraceLinesWith("Comparing with Device ID"),
        ElementsAre("RemoveDevices: Comparing with Device ID \"PCI\\VEN_1234&DEV_0001\"\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
}

TEST_F(HardwareIdWalk, RequiredSizeGrowingBetweenQueriesIsFollowed) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::GrowPropertySize(4);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(FirstTraceLines(4), ElementsAre("RemoveDevices: Comparing with Service \"hxhw\"\n",
                                                "RemoveDevices: Service matches\n", kBoardIdLine,
                                                "RemoveDevices: Match found\n"));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&08")));
}

TEST_F(HardwareIdWalk, TooSmallAnswerWithoutALargerSizeEndsTheQuery) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    // Asking again with the same size would get the same answer, for ever.
    kvxsim::FailCall("SetupDiGetDeviceRegistryPropertyA", ERROR_INSUFFICIENT_BUFFER, 1, 0);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_EQ(FirstTraceLines(1),
              std::vector<std::string>{"SetupDiGetDeviceRegistryProperty(SVC) failed, err=122\n"});
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
}

TEST_F(HardwareIdWalk, NoMemoryForAPropertySkipsOnlyThatDevice) {
    kvxsim::AddDevice(HxBoard("4&1&0&08"));
    kvxsim::AddDevice(HxBoard("4&1&0&10"));
    // The first block holds the service name; the second would hold the hardware IDs.
    kvxsim::FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 2);

    EXPECT_EQ(RemoveHxBoards(), 0u);

    EXPECT_THAT(FirstTraceLines(3),
                ElementsAre("RemoveDevices: Comparing with Service \"hxhw\"\n",
                            "RemoveDevices: Service matches\n", "LocalAlloc failed, err=8\n"));
    EXPECT_FALSE(Removed(BoardAt("4&1&0&08")));
    EXPECT_TRUE(Removed(BoardAt("4&1&0&10")));
}

}  // namespace
