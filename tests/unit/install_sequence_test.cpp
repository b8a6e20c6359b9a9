// Replacing any previous installation with the drivers from the two families' INF files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
#include "entry/exports.h"
#include "machine_fixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

constexpr const char* kDz4xInf = "C:\\KVX\\DZ4X\\dz4x.inf";
constexpr const char* kHxInf = "C:\\KVX\\HX\\hxhw.inf";
constexpr const char* kDz4xBoard = "PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C&REV_01\\3&2411E6FE&0&48";
constexpr const char* kHxBoard = "PCI\\VEN_0E7C&DEV_0002&SUBSYS_05080E7C&REV_01\\3&2411E6FE&0&50";

std::string FamilyInf(const std::string& service) {
    return "; Copyright 2004, Kavexa Systems Inc\r\n"
           "[Version]\r\nSignature=\"$Windows "
           "NT$\"\r\nClass=Multifunction\r\nProvider=%Maker%\r\n\r\n"
           "[Board.NT.Services]\r\nAddService=" +
           service + ",0x00000002,Board_Service\r\n\r\n[Board_Service]\r\nServiceBinary=%12%\\" +
           service + "win2k.sys\r\n\r\n[Strings]\r\nMaker=\"Kavexa Systems Inc\"\r\n";
}

// A board fresh in its slot: no driver installed yet.
void AddNewBoard(const char* instanceId) {
    const std::string id(instanceId);
    const std::string full = id.substr(0, id.find("\\3&"));
    kvxsim::AddDevice({.instanceId = id,
                       .service = std::nullopt,
                       .hardwareIds = {full, full.substr(0, full.find("&REV_"))}});
}

void AddInstallMedia() {
    kvxsim::AddFile(kDz4xInf, FamilyInf("dz4x"));
    kvxsim::AddFile("C:\\KVX\\DZ4X\\dz4xwin2k.sys", "MZ");
    kvxsim::AddFile(kHxInf, FamilyInf("hxhw"));
    kvxsim::AddFile("C:\\KVX\\HX\\hxhwwin2k.sys", "MZ");
}

std::optional<std::string> ServiceOf(const char* instanceId) {
    const std::optional<kvxsim::Device> device = kvxsim::FindDevice(instanceId);
    return device ? device->service : std::nullopt;
}

// The staging, update and re-enumeration calls, in journal order.
std::vector<std::string> InstallCalls() {
    std::vector<std::string> calls;
    for (const kvxsim::Call& call : kvxsim::Journal()) {
        if (call.function == "SetupCopyOEMInfA" ||
            call.function == "UpdateDriverForPlugAndPlayDevicesA" ||
            call.function.rfind("CM_", 0) == 0) {
            calls.push_back(call.Text());
        }
    }
    return calls;
}

std::string Staging(const char* inf) {
    return std::string("SetupCopyOEMInfA(") + inf + ", 0x1, 0x200)";
}

std::string ForcedUpdate(const char* id, const char* inf) {
    return std::string("UpdateDriverForPlugAndPlayDevicesA(") + id + ", " + inf + ", 0x1)";
}

class InstallKvx : public MachineTest {};

TEST_F(InstallKvx, RemovesThenStagesAndUpdatesEachFamilyThenReenumerates) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);
    AddNewBoard(kHxBoard);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf), 0u);

    std::vector<std::string> expected = {Staging(kDz4xInf)};
    for (const char* id : Dz4xHardwareIds) expected.push_back(ForcedUpdate(id, kDz4xInf));
    expected.push_back(Staging(kHxInf));
    for (const char* id : HxHardwareIds) expected.push_back(ForcedUpdate(id, kHxInf));
    expected.push_back("CM_Locate_DevNodeA(, 0x1)");
    expected.push_back("CM_Reenumerate_DevNode(0x1, 0x0)");
    EXPECT_THAT(InstallCalls(), ElementsAreArray(expected));
    EXPECT_EQ(kvxsim::Journal().back().function, "CM_Reenumerate_DevNode");

    // The removal ran to its end, binaries included, before anything was staged.
    const int stagedFirst = kvxsim::FindCall("SetupCopyOEMInfA");
    EXPECT_EQ(kvxsim::FindCall("OpenServiceA", "tlxdaemon"), 1);
    EXPECT_GE(kvxsim::FindCall("DeleteFileA", "C:\\WINNT\\system32\\drivers\\dz4xwin2k.sys"), 0);
    EXPECT_LT(kvxsim::FindCall("DeleteFileA", "C:\\WINNT\\system32\\drivers\\dz4xwin2k.sys"),
              stagedFirst);
    EXPECT_EQ(ServiceOf(kDz4xBoard), "dz4x");
    EXPECT_EQ(ServiceOf(kHxBoard), "hxhw");
}

TEST_F(InstallKvx, MachineWithFirstFamilyBoardsOnlySucceeds) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf), 0u);

    EXPECT_EQ(ServiceOf(kDz4xBoard), "dz4x");
    EXPECT_EQ(kvxsim::CountCalls("UpdateDriverForPlugAndPlayDevicesA"), 27);
    EXPECT_EQ(kvxsim::CountCalls("CM_Reenumerate_DevNode"), 1);
}

TEST_F(InstallKvx, FailingFirstStagingReturnsItsErrorAndInstallsNothing) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);
    kvxsim::FailCall("SetupCopyOEMInfA", ERROR_ACCESS_DENIED);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf),
              static_cast<ErrorCode>(ERROR_ACCESS_DENIED));

    EXPECT_GE(kvxsim::FindCall("OpenServiceA", "tlxdaemon"), 0);
    EXPECT_THAT(InstallCalls(), ElementsAre(Staging(kDz4xInf)));
    EXPECT_THAT(TraceLinesWith("SetupCopyOEMInf"),
                ElementsAre("Return from SetupCopyOEMInf: 0, err=5, name=\n"));
    EXPECT_EQ(ServiceOf(kDz4xBoard), std::nullopt);
}

TEST_F(InstallKvx, FailingSecondStagingLeavesTheFirstFamilyInstalled) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);
    AddNewBoard(kHxBoard);
    kvxsim::FailCall("SetupCopyOEMInfA", ERROR_ACCESS_DENIED, 2);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf),
              static_cast<ErrorCode>(ERROR_ACCESS_DENIED));

    EXPECT_EQ(kvxsim::CountCalls("UpdateDriverForPlugAndPlayDevicesA"), 12);
    EXPECT_EQ(kvxsim::CountCalls("CM_Locate_DevNodeA"), 0);
    EXPECT_EQ(kvxsim::CountCalls("CM_Reenumerate_DevNode"), 0);
    EXPECT_EQ(ServiceOf(kDz4xBoard), "dz4x");
    EXPECT_EQ(ServiceOf(kHxBoard), std::nullopt);
}

TEST_F(InstallKvx, StagingFailingWithoutErrorCodeEndsTheSequenceWithTwo) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);
    kvxsim::FailCall("SetupCopyOEMInfA", ERROR_SUCCESS);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf), 2u);

    EXPECT_THAT(InstallCalls(), ElementsAre(Staging(kDz4xInf)));
    EXPECT_EQ(ServiceOf(kDz4xBoard), std::nullopt);
}

TEST_F(InstallKvx, RootNotFoundSkipsTheReenumeration) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);
    kvxsim::SetLocateRootResult(CR_FAILURE);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf), 0u);

    EXPECT_EQ(kvxsim::CountCalls("CM_Locate_DevNodeA"), 1);
    EXPECT_EQ(kvxsim::CountCalls("CM_Reenumerate_DevNode"), 0);
}

TEST_F(InstallKvx, SecondCallRemovesWhatTheFirstInstalled) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);
    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf), 0u);
    EXPECT_EQ(kvxsim::OpenResources().Total(), 0);
    kvxsim::ClearJournal();

    EXPECT_EQ(KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf), 0u);

    const int removed = kvxsim::FindCall("SetupDiCallClassInstaller", kDz4xBoard);
    EXPECT_GE(removed, 0);
    EXPECT_LT(removed, kvxsim::FindCall("DeleteService", "Dz4x"));
    EXPECT_LT(kvxsim::FindCall("DeleteService", "Dz4x"), kvxsim::FindCall("SetupCopyOEMInfA"));
}

class InstallKvxArguments
    : public MachineTest,
      public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(InstallKvxArguments, AbsentOrEmptyPathDoesNothing) {
    AddInstallMedia();
    AddNewBoard(kDz4xBoard);

    EXPECT_EQ(KVXSetup_PnPInstallKVX(GetParam().first, GetParam().second), 0xFFFFFFFFu);

    EXPECT_THAT(kvxsim::Journal(), IsEmpty());
    EXPECT_THAT(kvxsim::DebugOutput(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(EitherPath, InstallKvxArguments,
                         ::testing::Values(std::make_pair(nullptr, kHxInf),
                                           std::make_pair("", kHxInf),
                                           std::make_pair(kDz4xInf, nullptr),
                                           std::make_pair(kDz4xInf, "")));

}  // namespace
