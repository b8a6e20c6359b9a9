// Staging an INF of ours into the INF store and installing its driver on a root device.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "harness/devices.h"
#include "harness/files.h"
#include "harness/module_test.h"
#include "harness/services.h"
#include "harness/test_inf.h"

namespace {

using kvxtest::FileExists;
using kvxtest::TakeTrace;
using kvxtest::ToLower;

const char kBoardId[] = "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C";

kvxtest::TestInf FirstFamilyInf() {
    kvxtest::TestInf inf;
    inf.service = "dz4x";
    inf.binary = "dz4xwin2k.sys";
    inf.hardware_ids = {kBoardId, "PCI\\VEN_1011&DEV_0046&SUBSYS_60010E7C"};
    return inf;
}

// Splits "Return from SetupCopyOEMInf: F, err=E, name=N\n" into F and N; false when the
// line has another form.
bool ParseStagingLine(const std::string& line, std::string* flag, std::string* name) {
    static const std::regex form(
        "Return from SetupCopyOEMInf: (-?[0-9]+), err=-?[0-9]+, name=(.*)\n");
    std::smatch match;
    if (!std::regex_match(line, match, form)) return false;
    *flag = match[1];
    *name = match[2];
    return true;
}

using CopyOemInf = kvxtest::ModuleTest;
using InstallPnpDevice = kvxtest::ModuleTest;

TEST_F(CopyOemInf, StagesOurInfIntoTheInfStoreAndTracesWhereItWent) {
    KVX_EXPORT_OR_SKIP(copy, module(), KVXSetup_CopyOemInf);
    const std::string source = kvxtest::WriteTestInf("kvxstage.inf", FirstFamilyInf());
    ASSERT_FALSE(source.empty());

    EXPECT_EQ(copy(source.c_str(), 0), 0u);

    const std::vector<std::string> trace = TakeTrace();
    ASSERT_EQ(trace.size(), 1u) << testing::PrintToString(trace);
    std::string flag, staged;
    ASSERT_TRUE(ParseStagingLine(trace[0], &flag, &staged)) << trace[0];
    EXPECT_EQ(flag, "1");
    EXPECT_EQ(ToLower(staged.substr(0, staged.find_last_of('\\') + 1)),
              ToLower(kvxtest::InfDirectory()));
    std::string original, copied;
    ASSERT_TRUE(kvxtest::ReadBinaryFile(source, &original));
    ASSERT_TRUE(kvxtest::ReadBinaryFile(staged, &copied)) << staged;
    EXPECT_EQ(copied, original);
}

TEST_F(CopyOemInf, StagingTheSameInfTwiceAsksThePlatformTwice) {
    KVX_EXPORT_OR_SKIP(copy, module(), KVXSetup_CopyOemInf);
    const std::string source = kvxtest::WriteTestInf("kvxtwice.inf", FirstFamilyInf());

    EXPECT_EQ(copy(source.c_str(), 0), 0u);
    EXPECT_EQ(copy(source.c_str(), 0x200), 0u);

    const std::vector<std::string> trace = TakeTrace();
    ASSERT_EQ(trace.size(), 2u) << testing::PrintToString(trace);
    std::string flags[2], names[2];
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(ParseStagingLine(trace[i], &flags[i], &names[i]));
    EXPECT_EQ(flags[1], "1");
    EXPECT_TRUE(FileExists(names[1])) << names[1];
}

TEST_F(CopyOemInf, MissingInfFailsAndTracesFlagZeroWithAnEmptyName) {
    KVX_EXPORT_OR_SKIP(copy, module(), KVXSetup_CopyOemInf);
    const std::string missing = kvxtest::ScratchDirectory() + "no-such-board.inf";
    const auto infs_before = kvxtest::ListFiles(kvxtest::InfDirectory(), "*");

    EXPECT_NE(copy(missing.c_str(), 0), 0u);

    const std::vector<std::string> trace = TakeTrace();
    ASSERT_EQ(trace.size(), 1u) << testing::PrintToString(trace);
    std::string flag, name;
    ASSERT_TRUE(ParseStagingLine(trace[0], &flag, &name)) << trace[0];
    EXPECT_EQ(flag, "0");
    EXPECT_EQ(name, "");
    EXPECT_EQ(kvxtest::ListFiles(kvxtest::InfDirectory(), "*"), infs_before);
}

TEST_F(InstallPnpDevice, InstallsTheInfsDriverOnTheMatchingDeviceOnly) {
    KVX_EXPORT_OR_SKIP(install, module(), KVXSetup_InstallPnpDevice);
    ASSERT_TRUE(kvxtest::RegisterRootDevice("KVXBOARD", {kBoardId, "PCI\\VEN_1011&DEV_0046"}));
    ASSERT_TRUE(
        kvxtest::RegisterRootDevice("KVXOTHER", {"PCI\\VEN_1011&DEV_0046&SUBSYS_60020E7C"}));
    const std::string inf = kvxtest::WriteTestInf("kvxinstall.inf", FirstFamilyInf());
    TakeTrace();

    EXPECT_EQ(install(inf.c_str(), kBoardId, TRUE), 0u);

    EXPECT_EQ(TakeTrace(),
              (std::vector<std::string>{"KVXSetup_InstallPnpDevice\n", inf, "\n", kBoardId, "\n"}));
    const auto board = kvxtest::FindRootDevice("KVXBOARD");
    ASSERT_TRUE(board.has_value());
    EXPECT_EQ(board->service, "dz4x");
    const auto other = kvxtest::FindRootDevice("KVXOTHER");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->service, "");
    EXPECT_EQ(
        ToLower(
            kvxtest::ReadRegistryString(kvxtest::ServiceKeyPath("dz4x"), "ImagePath").value_or("")),
        ToLower(kvxtest::DriversDirectory() + "dz4xwin2k.sys"));
}

}  // namespace
