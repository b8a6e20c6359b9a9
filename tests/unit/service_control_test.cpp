#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <string>

#include "entry/exports.h"
#include "machine_fixture.h"
#include "service/service_control.h"

namespace {

constexpr const char* kEventLogSystem = "System\\CurrentControlSet\\Services\\EventLog\\System";

std::string EventSourceKey(const std::string& service) {
    return std::string(kEventLogSystem) + "\\" + service;
}

void AddServiceWithEventSource(kvxsim::Service service) {
    kvxsim::AddKey(EventSourceKey(service.name));
    kvxsim::AddService(std::move(service));
}

// The service handle goes back before the manager handle that opened it.
void ExpectServiceClosedBeforeManager(const std::string& service) {
    const int serviceClosed = kvxsim::FindCall("CloseServiceHandle", service);
    const std::vector<kvxsim::Call> closes = kvxsim::Calls("CloseServiceHandle");
    ASSERT_GE(serviceClosed, 0) << kvxsim::JournalText();
    const std::vector<kvxsim::Call> journal = kvxsim::Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().function, "CloseServiceHandle");
    EXPECT_LT(serviceClosed, static_cast<int>(journal.size()) - 1) << kvxsim::JournalText();
    EXPECT_EQ(closes.size(), 2u);
}

}  // namespace

class StopService : public MachineTest {};

TEST_F(StopService, MissingServiceReturns1060AndTracesItsName) {
    EXPECT_EQ(KVXSetup_StopService("NoSuchService"), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{
                  "StopService: failed to open service NoSuchService, err=1060 (424)\n"});
    EXPECT_EQ(kvxsim::CountCalls("CloseServiceHandle"), 1);
}

TEST_F(StopService, StoppedServiceReturns1062InDecimalAndHex) {
    kvxsim::AddService({.name = "Hxhw"});
    EXPECT_EQ(KVXSetup_StopService("Hxhw"), DWORD{ERROR_SERVICE_NOT_ACTIVE});
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"StopService: ControlService returned 1062 (426)\n"});
    ExpectServiceClosedBeforeManager("Hxhw");
}

TEST_F(StopService, RunningServiceIsStoppedWithTheNarrowestRights) {
    kvxsim::AddService({.name = "tlxdaemon", .running = true});
    EXPECT_EQ(KVXSetup_StopService("TLXDAEMON"), 0u);
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"StopService: ControlService returned 0 (0)\n"});
    EXPECT_EQ(kvxsim::FindService("tlxdaemon")->state, DWORD{SERVICE_STOPPED});
    EXPECT_GE(kvxsim::FindCall("OpenSCManagerA", kvxsim::Hex(GENERIC_EXECUTE)), 0);
    EXPECT_GE(kvxsim::FindCall("OpenServiceA", kvxsim::Hex(SERVICE_STOP)), 0);
    ExpectServiceClosedBeforeManager("tlxdaemon");
}

TEST_F(StopService, ManagerThatCannotBeOpenedReturnsItsError) {
    kvxsim::FailCall("OpenSCManagerA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(KVXSetup_StopService("Hxhw"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"StopService: failed to open SCM, err=5 (5)\n"});
}

// Windows NT keeps a service running while one that depends on it runs; the stop goes
// through once the dependent has stopped.
TEST_F(StopService, RunningDependentRefusesTheStopUntilItStops) {
    kvxsim::AddService({.name = "Dz4x", .running = true, .dependents = {"KvxMonitor"}});
    kvxsim::AddService({.name = "KvxMonitor", .running = true});
    EXPECT_EQ(KVXSetup_StopService("Dz4x"), DWORD{ERROR_DEPENDENT_SERVICES_RUNNING});
    EXPECT_EQ(kvxsim::FindService("Dz4x")->state, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"StopService: ControlService returned 1051 (41b)\n"});
    EXPECT_EQ(KVXSetup_StopService("KvxMonitor"), 0u);
    EXPECT_EQ(KVXSetup_StopService("Dz4x"), 0u);
    EXPECT_EQ(kvxsim::FindService("Dz4x")->state, DWORD{SERVICE_STOPPED});
}

TEST_F(StopService, RefusedStopReturnsTheRefusal) {
    kvxsim::AddService(
        {.name = "Dz4x", .running = true, .stopError = ERROR_DEPENDENT_SERVICES_RUNNING});
    EXPECT_EQ(KVXSetup_StopService("Dz4x"), DWORD{ERROR_DEPENDENT_SERVICES_RUNNING});
    EXPECT_EQ(kvxsim::DebugOutput(),
              std::vector<std::string>{"StopService: ControlService returned 1051 (41b)\n"});
}

// The trace shows the platform's 0; the result must still say that the call failed.
TEST_F(StopService, FailuresWithoutErrorCodeReturnTwo) {
    kvxsim::AddService({.name = "Dz4x", .running = true});
    kvxsim::FailCall("OpenSCManagerA", ERROR_SUCCESS);
    EXPECT_EQ(KVXSetup_StopService("Dz4x"), 2u);
    kvxsim::FailCall("OpenServiceA", ERROR_SUCCESS);
    EXPECT_EQ(KVXSetup_StopService("Dz4x"), 2u);
    kvxsim::FailCall("ControlService", ERROR_SUCCESS);
    EXPECT_EQ(KVXSetup_StopService("Dz4x"), 2u);
    EXPECT_THAT(kvxsim::DebugOutput(),
                testing::ElementsAre("StopService: failed to open SCM, err=0 (0)\n",
                                     "StopService: failed to open service Dz4x, err=0 (0)\n",
                                     "StopService: ControlService returned 0 (0)\n"));
    EXPECT_EQ(kvxsim::FindService("Dz4x")->state, DWORD{SERVICE_RUNNING});
}

class StopServiceTolerantly : public MachineTest {};

TEST_F(StopServiceTolerantly, AbsenceAndNotRunningCountAsStoppedWithANote) {
    DWORD note = 77;
    EXPECT_EQ(StopServiceTolerant("Missing", &note), 0u);
    EXPECT_EQ(note, DWORD{ERROR_SERVICE_DOES_NOT_EXIST});

    kvxsim::AddService({.name = "Hx"});
    EXPECT_EQ(StopServiceTolerant("Hx", &note), 0u);
    EXPECT_EQ(note, DWORD{ERROR_SERVICE_NOT_ACTIVE});

    kvxsim::AddService({.name = "tlxdaemon", .running = true});
    EXPECT_EQ(StopServiceTolerant("tlxdaemon", &note), 0u);
    EXPECT_EQ(note, 0u);
    EXPECT_EQ(kvxsim::FindService("tlxdaemon")->state, DWORD{SERVICE_STOPPED});

    EXPECT_EQ(StopServiceTolerant("Missing", nullptr), 0u);
    EXPECT_EQ(StopServiceTolerant("Hx", nullptr), 0u);
    EXPECT_TRUE(kvxsim::DebugOutput().empty());
}

TEST_F(StopServiceTolerantly, OtherFailuresAreReturnedWithNoteZero) {
    kvxsim::AddService(
        {.name = "Dz4x", .running = true, .stopError = ERROR_INVALID_SERVICE_CONTROL});
    DWORD note = 77;
    EXPECT_EQ(StopServiceTolerant("Dz4x", &note), DWORD{ERROR_INVALID_SERVICE_CONTROL});
    EXPECT_EQ(note, 0u);
    ExpectServiceClosedBeforeManager("Dz4x");

    kvxsim::FailCall("OpenServiceA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(StopServiceTolerant("Dz4x", &note), DWORD{ERROR_ACCESS_DENIED});
    kvxsim::FailCall("OpenSCManagerA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(StopServiceTolerant("Dz4x", &note), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_GE(kvxsim::FindCall("OpenSCManagerA", kvxsim::Hex(SC_MANAGER_ALL_ACCESS)), 0);
    EXPECT_GE(kvxsim::FindCall("OpenServiceA", kvxsim::Hex(SERVICE_ALL_ACCESS)), 0);
}

class DeleteServiceAndEventLogSource : public MachineTest {};

TEST_F(DeleteServiceAndEventLogSource, DeletesServiceAndItsSystemEventLogKey) {
    AddServiceWithEventSource({.name = "Hxhw"});
    AddServiceWithEventSource({.name = "Hx"});
    EXPECT_EQ(DeleteServiceAndEventSource("Hxhw"), 0u);
    EXPECT_FALSE(kvxsim::ServiceExists("Hxhw"));
    EXPECT_GE(kvxsim::FindCall("RegDeleteKeyA", EventSourceKey("Hxhw")), 0)
        << kvxsim::JournalText();
    EXPECT_FALSE(kvxsim::KeyExists(EventSourceKey("Hxhw")));
    EXPECT_TRUE(kvxsim::KeyExists(EventSourceKey("Hx")));
    ExpectServiceClosedBeforeManager("Hxhw");
}

TEST_F(DeleteServiceAndEventLogSource, MissingServiceIsNoErrorAndDeletesNoKey) {
    kvxsim::AddKey(EventSourceKey("Hxhw"));
    EXPECT_EQ(DeleteServiceAndEventSource("Hxhw"), 0u);
    EXPECT_EQ(kvxsim::CountCalls("RegDeleteKeyA"), 0);
    EXPECT_TRUE(kvxsim::KeyExists(EventSourceKey("Hxhw")));
}

TEST_F(DeleteServiceAndEventLogSource, FailedDeletionKeepsTheKey) {
    AddServiceWithEventSource({.name = "Dz4x"});
    kvxsim::FailCall("DeleteService", ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteServiceAndEventSource("Dz4x"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_TRUE(kvxsim::ServiceExists("Dz4x"));
    EXPECT_TRUE(kvxsim::KeyExists(EventSourceKey("Dz4x")));
}

TEST_F(DeleteServiceAndEventLogSource, NameTooLongForTheKeyPathDeletesNoKey) {
    // 81 characters still fit the 132-byte key path; 82 would have to be cut, and a cut
    // path may name another service's key.
    const std::string fits(81, 'a');
    const std::string tooLong(82, 'a');
    AddServiceWithEventSource({.name = fits});
    AddServiceWithEventSource({.name = tooLong});
    kvxsim::AddKey(EventSourceKey(fits));

    EXPECT_EQ(DeleteServiceAndEventSource(tooLong.c_str()), 0u);
    EXPECT_FALSE(kvxsim::ServiceExists(tooLong));
    EXPECT_EQ(kvxsim::CountCalls("RegDeleteKeyA"), 0);
    EXPECT_TRUE(kvxsim::KeyExists(EventSourceKey(fits)));

    EXPECT_EQ(DeleteServiceAndEventSource(fits.c_str()), 0u);
    EXPECT_FALSE(kvxsim::KeyExists(EventSourceKey(fits)));
}

class StopAndDelete : public MachineTest {};

TEST_F(StopAndDelete, DeletesOnlyWhatCouldBeStopped) {
    AddServiceWithEventSource({.name = "Dz4x", .running = true});
    AddServiceWithEventSource({.name = "Hx"});
    AddServiceWithEventSource(
        {.name = "Hxhw", .running = true, .stopError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL});

    StopAndDeleteService("Dz4x");
    StopAndDeleteService("Hx");
    StopAndDeleteService("Hxhw");
    StopAndDeleteService("Missing");

    EXPECT_FALSE(kvxsim::ServiceExists("Dz4x"));
    EXPECT_FALSE(kvxsim::ServiceExists("Hx"));
    EXPECT_TRUE(kvxsim::ServiceExists("Hxhw"));
    EXPECT_TRUE(kvxsim::KeyExists(EventSourceKey("Hxhw")));
    EXPECT_EQ(kvxsim::CountCalls("DeleteService"), 2);
    EXPECT_TRUE(kvxsim::DebugOutput().empty());
}

TEST_F(StopAndDelete, StopFailingWithoutErrorCodeLeavesTheService) {
    AddServiceWithEventSource({.name = "Dz4x", .running = true});
    for (const char* failing : {"OpenSCManagerA", "OpenServiceA", "ControlService"}) {
        kvxsim::FailCall(failing, ERROR_SUCCESS);
        EXPECT_EQ(StopServiceTolerant("Dz4x", nullptr), 2u) << failing;
        kvxsim::FailCall(failing, ERROR_SUCCESS);
        StopAndDeleteService("Dz4x");
    }
    EXPECT_EQ(kvxsim::CountCalls("DeleteService"), 0);
    EXPECT_TRUE(kvxsim::ServiceExists("Dz4x"));
    EXPECT_TRUE(kvxsim::KeyExists(EventSourceKey("Dz4x")));
}
