#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include "entry/exports.h"
#include "machine_fixture.h"

class InstallPnpDevice : public MachineTest {
protected:
    static constexpr const char* kInf = "C:\\setup\\dz4x.inf";
    static constexpr const char* kId = "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C";
    void SetUp() override {
        MachineTest::SetUp();
        kvxsim::AddFile(kInf,
                        "[Version]\r\nProvider=Kavexa Systems Inc\r\n"
                        "[Dz4x.Services]\r\nAddService = dz4x,2,Dz4x.Service\r\n");
        kvxsim::AddDevice({.instanceId = "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C\\3&1&0&08",
                           .hardwareIds = {kId}});
    }
    static std::string UpdateFlags() {
        const std::vector<kvxsim::Call> calls = kvxsim::Calls("UpdateDriverForPlugAndPlayDevicesA");
        return calls.empty() ? "" : calls.back().Text();
    }
};

TEST_F(InstallPnpDevice, WritesNameInfAndIdUnformattedThenInstalls) {
    const char* const percentPath = "C:\\100%s\\dz4x.inf";
    kvxsim::AddFile(percentPath, "[Version]\r\n[S]\r\nAddService=dz4x,2,S\r\n");
    EXPECT_EQ(KVXSetup_InstallPnpDevice(percentPath, kId, TRUE), 0u);
    EXPECT_EQ(kvxsim::DebugOutput(), (std::vector<std::string>{"KVXSetup_InstallPnpDevice\n",
                                                               percentPath, "\n", kId, "\n"}));
    EXPECT_EQ(kvxsim::FindDevice("PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C\\3&1&0&08")->service,
              "dz4x");
}

TEST_F(InstallPnpDevice, OnlyTheLowByteOfForceCounts) {
    const struct {
        BOOL force;
        DWORD flags;
    } cases[] = {{0, 0},
                 {1, INSTALLFLAG_FORCE},
                 {0xFF, INSTALLFLAG_FORCE},
                 {0x100, 0},
                 {0x7FFFFF01, INSTALLFLAG_FORCE}};
    for (const auto& c : cases) {
        kvxsim::ClearJournal();
        EXPECT_EQ(KVXSetup_InstallPnpDevice(kInf, kId, c.force), 0u);
        EXPECT_GE(kvxsim::FindCall("UpdateDriverForPlugAndPlayDevicesA", kvxsim::Hex(c.flags)), 0)
            << "force " << c.force << ": " << UpdateFlags();
    }
}

TEST_F(InstallPnpDevice, PlatformErrorIsReturned) {
    EXPECT_EQ(KVXSetup_InstallPnpDevice(kInf, "PCI\\VEN_FFFF&DEV_FFFF", TRUE),
              DWORD{ERROR_NO_SUCH_DEVINST});
    EXPECT_EQ(kvxsim::DebugOutput().size(), 5u) << "the outcome itself is not traced";
}

// Windows looks at the INF before the devices, and at the devices before the INF's models:
// the preview of a driver update answers in the same order.
TEST_F(InstallPnpDevice, MissingInfIsReportedBeforeMissingDevice) {
    const char* const unknownId = "PCI\\VEN_0E7C&DEV_0009";
    EXPECT_EQ(KVXSetup_InstallPnpDevice("C:\\none.inf", unknownId, TRUE),
              DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(KVXSetup_InstallPnpDevice(kInf, unknownId, TRUE), DWORD{ERROR_NO_SUCH_DEVINST});
}

TEST_F(InstallPnpDevice, FailureWithoutErrorCodeReturnsTwo) {
    kvxsim::FailCall("UpdateDriverForPlugAndPlayDevicesA", 0);
    EXPECT_EQ(KVXSetup_InstallPnpDevice(kInf, kId, TRUE), 2u);
}
