// Sending the stop control to one service through the export, as the installer does.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "harness/module_test.h"
#include "harness/services.h"

namespace {

using kvxtest::TakeTrace;
using Lines = std::vector<std::string>;

using StopService = kvxtest::ModuleTest;

TEST_F(StopService, MissingServiceFailsWith1060AndNamesIt) {
    KVX_EXPORT_OR_SKIP(stop, module(), KVXSetup_StopService);

    EXPECT_EQ(stop("KvxNoSuchService"), 1060u);

    EXPECT_EQ(TakeTrace(),
              Lines{"StopService: failed to open service KvxNoSuchService, err=1060 (424)\n"});
}

TEST_F(StopService, StoppedServiceAnswers1062AndStaysInstalled) {
    KVX_EXPORT_OR_SKIP(stop, module(), KVXSetup_StopService);
    ASSERT_TRUE(kvxtest::CreateDriverService("KvxStopped", "system32\\drivers\\kvxstopped.sys"));
    TakeTrace();

    EXPECT_EQ(stop("KvxStopped"), 1062u);

    EXPECT_EQ(TakeTrace(), Lines{"StopService: ControlService returned 1062 (426)\n"});
    EXPECT_TRUE(kvxtest::ServiceExists("KvxStopped"));
}

TEST_F(StopService, RunningServiceStopsAndStaysInstalled) {
    KVX_EXPORT_OR_SKIP(stop, module(), KVXSetup_StopService);
    ASSERT_TRUE(kvxtest::CreateRunningService("KvxRunning"));
    TakeTrace();

    EXPECT_EQ(stop("kvxrunning"), 0u);

    EXPECT_EQ(TakeTrace(), Lines{"StopService: ControlService returned 0 (0)\n"});
    EXPECT_TRUE(kvxtest::WaitForServiceState("KvxRunning", SERVICE_STOPPED));
    EXPECT_TRUE(kvxtest::ServiceExists("KvxRunning"));
}

}  // namespace
