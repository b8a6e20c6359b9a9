#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include "entry/exports.h"
#include "machine_fixture.h"

class CopyOemInf : public MachineTest {
protected:
    static constexpr const char* kSource = "C:\\setup\\dz4x.inf";
    void SetUp() override {
        MachineTest::SetUp();
        kvxsim::AddFile(kSource, "; Copyright 2004, Kavexa Systems Inc\r\n[Version]\r\n");
    }
};

TEST_F(CopyOemInf, SuccessTracesFlagErrorAndStagedName) {
    EXPECT_EQ(KVXSetup_CopyOemInf(kSource, SP_COPY_FORCE_IN_USE), 0u);
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{
                  "Return from SetupCopyOEMInf: 1, err=0, name=C:\\WINNT\\inf\\oem0.inf\n"});
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\oem0.inf"));
    EXPECT_GE(kvxsim::FindCall("SetupCopyOEMInfA", kvxsim::Hex(SP_COPY_FORCE_IN_USE)), 0);
}

// A success may leave an earlier error behind; the trace shows it as the platform left it.
TEST_F(CopyOemInf, SuccessTracesTheLastErrorTheCallLeft) {
    SetLastError(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(KVXSetup_CopyOemInf(kSource, SP_COPY_FORCE_IN_USE), 0u);
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{
                  "Return from SetupCopyOEMInf: 1, err=183, name=C:\\WINNT\\inf\\oem0.inf\n"});
}

TEST_F(CopyOemInf, CopyStyleIsPassedThroughUnchanged) {
    EXPECT_EQ(KVXSetup_CopyOemInf(kSource, 0x12345678), 0u);
    EXPECT_GE(kvxsim::FindCall("SetupCopyOEMInfA", kvxsim::Hex(0x12345678)), 0);
}

TEST_F(CopyOemInf, FailureReturnsTheErrorReadBeforeTheTraceAndAnEmptyName) {
    // The stand-in's debugger output changes the last error, as real platforms do.
    kvxsim::FailCall("SetupCopyOEMInfA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(KVXSetup_CopyOemInf(kSource, SP_COPY_FORCE_IN_USE), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"Return from SetupCopyOEMInf: 0, err=5, name=\n"});
}

TEST_F(CopyOemInf, FailureWithoutErrorCodeIsNotReportedAsSuccess) {
    kvxsim::FailCall("SetupCopyOEMInfA", 0);
    EXPECT_EQ(KVXSetup_CopyOemInf(kSource, SP_COPY_FORCE_IN_USE), 2u);
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"Return from SetupCopyOEMInf: 0, err=0, name=\n"});
}

TEST_F(CopyOemInf, MissingSourceFailsWithFileNotFound) {
    EXPECT_EQ(KVXSetup_CopyOemInf("C:\\setup\\missing.inf", 0), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(kvxsim::FilesIn(kvxsim::InfDirectory()), std::vector<std::string>{});
}
