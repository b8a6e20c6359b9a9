// The stand-in's service control manager and registry answers that the module's service
// and removal code depends on.
#include <gtest/gtest.h>

#include <kvxsim/machine.h>

namespace {

class SimServices : public ::testing::Test {
protected:
    void SetUp() override { kvxsim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(kvxsim::OpenResources().Total(), 0) << kvxsim::JournalText();
    }
};

TEST_F(SimServices, StopNeedsAccessAndARunningService) {
    kvxsim::AddService({.name = "tlxdaemon", .running = true});
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, GENERIC_EXECUTE);
    ASSERT_NE(scm, nullptr);
    SC_HANDLE query = OpenServiceA(scm, "TLXDAEMON", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(query, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SC_HANDLE stop = OpenServiceA(scm, "tlxdaemon", SERVICE_STOP);
    EXPECT_TRUE(ControlService(stop, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(kvxsim::FindService("tlxdaemon")->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(ControlService(stop, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_EQ(OpenServiceA(scm, "absent", SERVICE_STOP), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    CloseServiceHandle(query);
    CloseServiceHandle(stop);
    CloseServiceHandle(scm);
    EXPECT_EQ(kvxsim::FindCall("OpenServiceA", kvxsim::Hex(SERVICE_STOP)), 3);
}

TEST_F(SimServices, MarkedServiceGoesWhenStoppedAndLastHandleCloses) {
    kvxsim::AddService({.name = "Hxhw", .running = true, .stopsSlowly = true});
    kvxsim::AddKey("SYSTEM\\CurrentControlSet\\Services\\hxhw\\Enum");
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(scm, "Hxhw", SERVICE_ALL_ACCESS);
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(DeleteService(service));
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    EXPECT_TRUE(kvxsim::FindService("hxhw")->markedForDeletion);  // still stopping
    kvxsim::FinishStop("hxhw");
    EXPECT_FALSE(kvxsim::ServiceExists("Hxhw"));
    EXPECT_FALSE(kvxsim::KeyExists("SYSTEM\\CurrentControlSet\\Services\\hxhw"));
}

TEST_F(SimServices, RegistryReturnsErrorsWithoutTouchingTheLastError) {
    const char key[] = "SYSTEM\\CurrentControlSet\\Services\\dz4x";
    kvxsim::SetStringValue(key, "ImagePath", "System32\\DRIVERS\\dz4xwin2k.sys", REG_EXPAND_SZ);
    SetLastError(99);
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\services\\missing", 0,
                            KEY_READ, &opened),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened), ERROR_SUCCESS);
    char small[8];
    DWORD type = 0, size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(opened, "imagepath", nullptr, &type, reinterpret_cast<BYTE*>(small),
                               &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof "System32\\DRIVERS\\dz4xwin2k.sys");
    EXPECT_EQ(RegQueryValueExA(opened, "Start", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), 99u);

    kvxsim::AddKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Hxhw");
    EXPECT_EQ(
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System"),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                            "System\\CurrentControlSet\\Services\\EventLog\\System\\HXHW"),
              ERROR_SUCCESS);
    EXPECT_FALSE(kvxsim::KeyExists("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Hxhw"));
    EXPECT_EQ(kvxsim::CountCalls("RegDeleteKeyA",
                                 "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Hxhw"),
              1);

    kvxsim::FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened), ERROR_ACCESS_DENIED);
    EXPECT_EQ(opened, nullptr);
}

}  // namespace
