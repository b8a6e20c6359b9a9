// Clearing the product's INF files out of the INF store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <string>

#include "cleanup/inf_store_cleanup.h"
#include "machine_fixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr const char* kInfStore = "C:\\WINNT\\inf\\";
constexpr const char* kHeader2003 = "; Copyright 2003, Kavexa Systems Inc\r\n";
constexpr const char* kInfBody =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Multifunction\r\n";

std::string InStore(const char* name) {
    return std::string(kInfStore) + name;
}

// A staged INF with its precompiled twin, as the platform leaves them after staging.
void AddStagedInf(const char* number, const std::string& contents) {
    kvxsim::AddFile(InStore("oem") + number + ".inf", contents);
    kvxsim::AddFile(InStore("oem") + number + ".pnf", "PNF binary data");
}

class InfStoreCleanup : public MachineTest {};

TEST_F(InfStoreCleanup, ProductInfIsDeletedWithItsPrecompiledFile) {
    AddStagedInf("5", std::string(kHeader2003) + kInfBody);

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore), IsEmpty());
    const std::vector<kvxsim::Call> opens = kvxsim::Calls("CreateFileA");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_THAT(opens[0].args,
                ElementsAre(InStore("oem5.inf"), kvxsim::Hex(GENERIC_READ), kvxsim::Hex(0),
                            kvxsim::Hex(OPEN_EXISTING), kvxsim::Hex(FILE_ATTRIBUTE_NORMAL)));
}

TEST_F(InfStoreCleanup, EveryYearsHeaderMatchesInAnyLetterCase) {
    AddStagedInf("0", "; Copyright 2000, Kavexa Systems Inc\r\n");
    AddStagedInf("1", "; copyright 2001, kavexa systems inc\r\n");
    AddStagedInf("2", "; Copyright 2002, Kavexa Systems Inc\r\n");
    AddStagedInf("3", "; COPYRIGHT 2003, KAVEXA SYSTEMS INC\r\n");
    AddStagedInf("4", std::string("; Copyright 2004, Kavexa Systems Inc\r\n") + kInfBody);

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore), IsEmpty());
}

TEST_F(InfStoreCleanup, FilesNotBeginningWithAWholeHeaderLineStay) {
    AddStagedInf("5", std::string("; Copyright 2003, Kavexa Systems Inc\n") + kInfBody);
    AddStagedInf("6", "; Copyright 2003, Kavexa Systems Inc\r");  // one byte short
    AddStagedInf("7", std::string("; Copyright 2003, Other Vendor Ltd\r\n") + kInfBody);
    AddStagedInf("8", std::string(kInfBody) + kHeader2003);
    kvxsim::AddFile(InStore("oem9.pnf"), "PNF binary data");  // its INF is gone already

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore),
                ElementsAre("oem5.inf", "oem5.pnf", "oem6.inf", "oem6.pnf", "oem7.inf", "oem7.pnf",
                            "oem8.inf", "oem8.pnf", "oem9.pnf"));
}

TEST_F(InfStoreCleanup, FixedNameFilesAreDeletedWhateverTheyHold) {
    kvxsim::AddFile(InStore("kvx.inf"), "[Version]\r\n");
    kvxsim::AddFile(InStore("kvx.pnf"), "");

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore), IsEmpty());
}

TEST_F(InfStoreCleanup, LockedInfStays) {
    AddStagedInf("5", kHeader2003);
    kvxsim::LockFile(InStore("oem5.inf"));
    // Open elsewhere for reading, sharing everything: only the clean-up's own request for
    // no sharing keeps it from reading and deleting the file.
    AddStagedInf("6", kHeader2003);
    kvxsim::HoldFileOpen(InStore("oem6.inf"), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore),
                ElementsAre("oem5.inf", "oem5.pnf", "oem6.inf", "oem6.pnf"));
    kvxsim::LockFile(InStore("oem6.inf"), false);
    kvxsim::LockFile(InStore("oem5.inf"), false);
}

TEST_F(InfStoreCleanup, FailingReadLeavesTheFile) {
    AddStagedInf("5", kHeader2003);
    kvxsim::FailCall("ReadFile", ERROR_LOCK_VIOLATION);

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore), ElementsAre("oem5.inf", "oem5.pnf"));
}

TEST_F(InfStoreCleanup, InfFoundOnlyThroughItsShortNameIsDeletedByItsLongName) {
    kvxsim::AddFile(InStore("Kavexa board.inf"), kHeader2003, "OEMKAV~1.INF");
    kvxsim::AddFile(InStore("Kavexa board.pnf"), "PNF binary data");
    // Its last three characters are no extension: swapping them would name oem10.ipnf.
    kvxsim::AddFile(InStore("oem10.infx"), kHeader2003, "OEM10~1.INF");
    kvxsim::AddFile(InStore("oem10.ipnf"), "another file");

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn(kInfStore), ElementsAre("oem10.ipnf"));
}

class InfStoreCleanupWindowsDirectory : public MachineTest,
                                        public ::testing::WithParamInterface<const char*> {};

TEST_P(InfStoreCleanupWindowsDirectory, StoreIsTheInfSubdirectory) {
    kvxsim::SetWindowsDirectory(GetParam());
    kvxsim::AddFile("D:\\WIN2K\\inf\\oem5.inf", kHeader2003);
    kvxsim::AddFile("D:\\WIN2K\\inf\\kvx.inf", "");

    EXPECT_EQ(RemoveOemInfFiles(), 0u);

    EXPECT_THAT(kvxsim::FilesIn("D:\\WIN2K\\inf"), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTrailingBackslash, InfStoreCleanupWindowsDirectory,
                         ::testing::Values("D:\\WIN2K", "D:\\WIN2K\\"));

TEST_F(InfStoreCleanup, FailingWindowsDirectoryQueryTouchesNothing) {
    AddStagedInf("5", kHeader2003);
    kvxsim::AddFile(InStore("kvx.inf"), "");
    kvxsim::FailCall("GetWindowsDirectoryA", ERROR_ACCESS_DENIED, 1, 0);

    EXPECT_EQ(RemoveOemInfFiles(), static_cast<ErrorCode>(ERROR_ACCESS_DENIED));

    EXPECT_EQ(kvxsim::CountCalls("DeleteFileA"), 0);
    EXPECT_THAT(kvxsim::FilesIn(kInfStore), ElementsAre("kvx.inf", "oem5.inf", "oem5.pnf"));
}

TEST_F(InfStoreCleanup, WindowsDirectoryTooLongForTheBufferTouchesNothing) {
    kvxsim::SetWindowsDirectory("C:\\" + std::string(517, 'W'));  // 520 characters

    EXPECT_EQ(RemoveOemInfFiles(), static_cast<ErrorCode>(ERROR_INSUFFICIENT_BUFFER));

    EXPECT_EQ(kvxsim::CountCalls("DeleteFileA"), 0);
    EXPECT_EQ(kvxsim::CountCalls("FindFirstFileA"), 0);
    EXPECT_EQ(kvxsim::CountCalls("CreateFileA"), 0);
}

}  // namespace
