// Two installer processes taking the product off the same machine at the same moment: both
// finish normally with success, and between them they remove every board of the product
// and nothing else. The test program starts itself twice as the two processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/devices.h"
#include "harness/files.h"
#include "harness/inventory.h"
#include "harness/module.h"
#include "harness/services.h"
#include "harness/test_inf.h"

namespace {

using kvxtest::Inventory;
using kvxtest::RegisterRootDevice;
using Strings = std::vector<std::string>;

// On a child's command line: the names of its start event and its ready semaphore follow.
constexpr char kChildFlag[] = "--kvx-removal-child";
constexpr char kStartEvent[] = "kvx_concurrent_removal_start";
constexpr char kReadySemaphore[] = "kvx_concurrent_removal_ready";
// A child that could not take part exits with this instead of the export's result.
constexpr DWORD kChildSetupFailed = 0xC0DE0001;

bool IsRemovalChild() {
    return std::string(GetCommandLineA()).find(kChildFlag) != std::string::npos;
}

// The child's whole life: load the module as an installer does, report ready, wait for the
// common start, remove, and hand the result back as the exit code.
[[noreturn]] void RunRemovalChild() {
    kvxtest::LoadedModule module;
    const auto remove = module.Find<kvxtest::PnPRemoveKVXFn>("KVXSetup_PnPRemoveKVX");
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, kStartEvent);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReadySemaphore);
    if (remove == nullptr || start == nullptr || ready == nullptr) ExitProcess(kChildSetupFailed);
    ReleaseSemaphore(ready, 1, nullptr);
    if (WaitForSingleObject(start, 60000) != WAIT_OBJECT_0) ExitProcess(kChildSetupFailed);
    const DWORD result = remove();
    ExitProcess(result);
}

// The child runs as this test of a second copy of the program; in the test run itself it
// has nothing to do.
TEST(ConcurrentRemovalChild, RemovesWhenStartedAsAChild) {
    if (!IsRemovalChild()) GTEST_SKIP() << "runs only in the processes the removal test starts";
    RunRemovalChild();
}

struct Child {
    PROCESS_INFORMATION process = {};
    bool started = false;
};

Child StartChild() {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string command =
        std::string("\"") + program + "\" --gtest_filter=ConcurrentRemovalChild.* " + kChildFlag;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    Child child;
    child.started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &child.process) != FALSE;
    return child;
}

const Strings kDz4xBoardIds[] = {
    {"PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C&REV_01", "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C"},
    {"PCI\\VEN_1011&DEV_0046&SUBSYS_61000E7C"},
    {"PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C&REV_02", "PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C"},
};
const Strings kHxBoardIds[] = {
    {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05060E7C&REV_02", "PCI\\VEN_0E7C&DEV_0002"},
    {"PCI\\VEN_0E7C&DEV_0001&REV_01", "PCI\\VEN_0E7C&DEV_0001"},
    {"PCI\\VEN_0E7C&DEV_0002&SUBSYS_05150E7C"},
};

// Both families' boards with their services registered, and another product's devices:
// one with our ID but its own service, one with our service name but not our ID, and a
// card of its own.
void BuildMachine(Strings* product_devices) {
    ASSERT_TRUE(kvxtest::CreateDriverService("dz4x", "system32\\drivers\\dz4xwin2k.sys"));
    ASSERT_TRUE(kvxtest::CreateDriverService("hxhw", "system32\\drivers\\hxhwwin2k.sys"));
    int n = 0;
    for (const Strings& ids : kDz4xBoardIds) {
        const std::string name = "KVXDZ" + std::to_string(n++);
        ASSERT_TRUE(RegisterRootDevice(name, ids, "dz4x"));
        product_devices->push_back("device ROOT\\" + name + "\\");
    }
    for (const Strings& ids : kHxBoardIds) {
        const std::string name = "KVXHX" + std::to_string(n++);
        ASSERT_TRUE(RegisterRootDevice(name, ids, "hxhw"));
        product_devices->push_back("device ROOT\\" + name + "\\");
    }
    ASSERT_TRUE(RegisterRootDevice("OTHERBOARD", {kDz4xBoardIds[0][0] + "&REV_09"}, "othernic"));
    ASSERT_TRUE(RegisterRootDevice("OTHERSAMESVC", {"PCI\\VEN_1011&DEV_0047"}, "dz4x"));
    ASSERT_TRUE(RegisterRootDevice("OTHERCARD", {"PCI\\VEN_10EC&DEV_8139"}, "othernic"));
    ASSERT_TRUE(kvxtest::CreateDriverService("othernic", "system32\\drivers\\othernic.sys"));
    kvxtest::TestInf other;
    other.first_line = "; Copyright 2003, Other Maker Ltd\r\n";
    other.provider = "Other Maker Ltd";
    other.service = "othernic";
    other.hardware_ids = {"PCI\\VEN_10EC&DEV_8139"};
    ASSERT_FALSE(kvxtest::StageInf(kvxtest::WriteTestInf("othernic.inf", other)).empty());
}

Inventory DeviceLines(const Inventory& inventory) {
    return kvxtest::Without(inventory,
                            [](const std::string& line) { return line.rfind("device ", 0) != 0; });
}

TEST(ConcurrentRemoval, TwoProcessesRemovingAtOnceBothSucceedAndRemoveOnlyTheProduct) {
    {
        kvxtest::LoadedModule module;
        ASSERT_NE(module.handle(), nullptr) << kvxtest::kModuleName << " did not load";
        if (module.Find<kvxtest::PnPRemoveKVXFn>("KVXSetup_PnPRemoveKVX") == nullptr) {
            GTEST_SKIP() << "KVXSetup_PnPRemoveKVX is not exported";
        }
    }
    Strings product_devices;
    ASSERT_NO_FATAL_FAILURE(BuildMachine(&product_devices));
    const Inventory before = kvxtest::TakeInventory();
    for (const std::string& prefix : product_devices) {
        const bool listed = std::any_of(before.begin(), before.end(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        });
        ASSERT_TRUE(listed) << prefix;
    }

    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, kStartEvent);
    HANDLE ready = CreateSemaphoreA(nullptr, 0, 2, kReadySemaphore);
    ASSERT_NE(start, nullptr);
    ASSERT_NE(ready, nullptr);
    Child children[2] = {StartChild(), StartChild()};
    bool both_ready = children[0].started && children[1].started;
    for (int i = 0; i < 2 && both_ready; ++i) {
        both_ready = WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0;
    }
    SetEvent(start);
    for (Child& child : children) {
        if (!child.started) continue;
        EXPECT_EQ(WaitForSingleObject(child.process.hProcess, 180000), WAIT_OBJECT_0);
        DWORD exit_code = STILL_ACTIVE;
        GetExitCodeProcess(child.process.hProcess, &exit_code);
        EXPECT_EQ(exit_code, 0u) << "a removal process did not end normally with success";
        CloseHandle(child.process.hThread);
        CloseHandle(child.process.hProcess);
    }
    CloseHandle(ready);
    CloseHandle(start);
    ASSERT_TRUE(children[0].started && children[1].started) << "CreateProcess failed";
    ASSERT_TRUE(both_ready) << "the removal processes did not get ready";

    const Inventory after = kvxtest::TakeInventory();
    const Inventory expected_devices = kvxtest::Without(DeviceLines(before), [&](const auto& line) {
        for (const std::string& prefix : product_devices) {
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
    });
    EXPECT_EQ(DeviceLines(after), expected_devices);
    EXPECT_EQ(kvxtest::Difference(after, before), Inventory{}) << "appeared";
    EXPECT_TRUE(kvxtest::ServiceExists("othernic"));
    EXPECT_FALSE(kvxtest::ServiceExists("dz4x"));
    EXPECT_FALSE(kvxtest::ServiceExists("hxhw"));
}

}  // namespace
