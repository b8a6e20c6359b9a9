// The stand-in's kernel32 and msvcrt answers that the module's trace and file clean-up
// depend on.
#include <gtest/gtest.h>

#include <kvxsim/machine.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class SimKernel : public ::testing::Test {
protected:
    void SetUp() override { kvxsim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(kvxsim::OpenResources().Total(), 0) << kvxsim::JournalText();
    }
};

int Format(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return result;
}

TEST_F(SimKernel, VsnprintfLeavesNoTerminatorWhenTheTextFillsTheBuffer) {
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Format(buffer, 8, "%s=%d", "abc", 12345), -1);
    EXPECT_EQ(std::string(buffer, 8), "abc=1234");
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Format(buffer, 4, "%x", 0x1234u), 4);
    EXPECT_EQ(std::string(buffer, 5), "1234#");
    EXPECT_EQ(Format(buffer, 8, "%d", -5), 2);
    EXPECT_STREQ(buffer, "-5");
}

TEST_F(SimKernel, DebugOutputKeepsEachWriteAndChangesTheLastError) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    OutputDebugStringA("one\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    OutputDebugStringA("");
    EXPECT_EQ(kvxsim::DebugOutput(), (std::vector<std::string>{"one\n", ""}));
}

TEST_F(SimKernel, LocalHeapCountsBlocksAndFailsOnRequest) {
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LMEM_ZEROINIT, 5));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[4], 0);
    EXPECT_EQ(kvxsim::OpenResources().localBlocks, 1);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(block), block);
    EXPECT_EQ(kvxsim::BadLocalFrees(), 1);

    kvxsim::FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 2);
    HLOCAL first = LocalAlloc(LPTR, 1);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 1), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    LocalFree(first);
}

TEST_F(SimKernel, DirectoryQueriesReportLengthOrRequiredSize) {
    char buffer[520];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 520), 8u);
    EXPECT_STREQ(buffer, "C:\\WINNT");
    kvxsim::SetSystemDirectory(std::string(600, 'x'));
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetSystemDirectoryA(buffer, 520), 601u);
    EXPECT_EQ(buffer[0], '#');
    kvxsim::FailCall("GetWindowsDirectoryA", 0);
    SetLastError(1234);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 520), 0u);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(SimKernel, WildcardSearchMatchesShortNamesInSortedOrder) {
    kvxsim::AddFile("C:\\WINNT\\inf\\OEM2.INF", "b");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem10.inf", "a");
    kvxsim::AddFile("C:\\WINNT\\inf\\oem2.pnf", "c");
    kvxsim::AddFile("C:\\WINNT\\inf\\staged driver.information", "d", "OEMSTA~1.INF");
    kvxsim::AddFile("C:\\WINNT\\inf\\machine.inf", "e");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\WINNT\\inf\\oem*.inf", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::string> names{found.cFileName};
    while (FindNextFileA(search, &found)) names.push_back(found.cFileName);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    EXPECT_EQ(names,
              (std::vector<std::string>{"oem10.inf", "OEM2.INF", "staged driver.information"}));

    EXPECT_EQ(FindFirstFileA("C:\\WINNT\\inf\\x*.inf", &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA("C:\\NOWHERE\\oem*.inf", &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(SimKernel, OpenAndLockedFilesRefuseOpeningAndDeletion) {
    kvxsim::AddFile("C:\\WINNT\\inf\\oem1.inf", "0123456789");
    HANDLE file = CreateFileA("c:\\winnt\\INF\\oem1.inf", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\inf\\oem1.inf"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(CreateFileA("C:\\WINNT\\inf\\oem1.inf", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    char bytes[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, bytes, 6, &read, nullptr));
    ASSERT_TRUE(ReadFile(file, bytes, 8, &read, nullptr));
    EXPECT_EQ(std::string(bytes, read), "6789");
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(DeleteFileA("C:\\WINNT\\inf\\oem1.inf"));

    kvxsim::AddFile("C:\\WINNT\\inf\\oem2.inf", "x");
    kvxsim::LockFile("C:\\WINNT\\inf\\oem2.inf");
    EXPECT_EQ(CreateFileA("C:\\WINNT\\inf\\oem2.inf", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\inf\\missing.inf"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\inf\\\\oem2.inf"));  // a doubled separator names nothing
}

TEST_F(SimKernel, FailurePlanCountsCallsOfThatFunctionOnly) {
    kvxsim::AddFile("C:\\WINNT\\inf\\kvx.inf", "x");
    kvxsim::FailCall("DeleteFileA", ERROR_ACCESS_DENIED, 2, 2);
    EXPECT_FALSE(DeleteFileA("C:\\WINNT\\inf\\other.inf"));  // first call: the platform's answer
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    for (int failing = 0; failing < 2; ++failing) {
        EXPECT_FALSE(DeleteFileA("C:\\WINNT\\inf\\kvx.inf"));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_TRUE(kvxsim::FileExists("C:\\WINNT\\inf\\kvx.inf"));
    EXPECT_TRUE(DeleteFileA("C:\\WINNT\\inf\\kvx.inf"));
    EXPECT_EQ(kvxsim::CountCalls("DeleteFileA", "c:\\winnt\\inf\\KVX.INF"), 3);
}

TEST_F(SimKernel, ResetLeavesNoHandleOfTheOldMachineValid) {
    kvxsim::AddFile("C:\\WINNT\\inf\\oem1.inf", "x");
    HANDLE file = CreateFileA("C:\\WINNT\\inf\\oem1.inf", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    kvxsim::Reset();
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(kvxsim::FilesIn("C:\\WINNT\\inf"), std::vector<std::string>{});
    EXPECT_EQ(kvxsim::Journal().size(), 1u);  // the CloseHandle just made
}

TEST_F(SimKernel, LastErrorIsPerThreadAndTheMachineIsShared) {
    SetLastError(7);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                HLOCAL block = LocalAlloc(LPTR, 16);
                OutputDebugStringA("x");
                LocalFree(block);
            }
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(GetLastError(), 7u);
    EXPECT_EQ(kvxsim::DebugOutput().size(), 800u);
}

}  // namespace
