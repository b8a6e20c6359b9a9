// Eight threads calling the exports at once on one machine. The module keeps no state of
// its own, so every thread must see what it would see alone, and the machine must end up
// as if the calls had run one after another.
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalog/catalog.h"
#include "entry/exports.h"

namespace {

constexpr int kThreads = 8;
constexpr int kMachines = 40;
constexpr const char* kOtherProvider = "Other Maker Ltd";
constexpr const char* kStuckService = "stuckdaemon";
constexpr const char* kMissingService = "nosuchservice";
constexpr const char* kMissingInf = "C:\\setup\\missing.inf";

std::string ThreadService(int thread) {
    return "worker" + std::to_string(thread);
}

std::string ThreadInf(int thread) {
    return "C:\\setup\\thread" + std::to_string(thread) + ".inf";
}

// The prefixes whose removal together takes every board of the product off.
std::vector<std::pair<std::string, std::string>> RemovalRequests() {
    std::vector<std::pair<std::string, std::string>> requests;
    for (const char* id : Dz4xHardwareIds) requests.emplace_back(Dz4xDeviceService, id);
    for (const char* id : HxRemovalPrefixes) requests.emplace_back(HxDeviceService, id);
    return requests;
}

kvxsim::Driver MakeDriver(const char* provider, const std::string& infName) {
    return {.description = "Board",
            .manufacturer = provider,
            .provider = provider,
            .infPath = kvxsim::InfDirectory() + infName,
            .section = "Board.NT",
            .hardwareId = "PCI\\VEN_0000"};
}

struct Scene {
    std::set<std::string> productDevices;
    std::set<std::string> otherDevices;
    std::set<std::string> productPackages;  // deleted with their devices
};

// Boards of both families (some taken out of the machine, some with another provider's
// driver beside ours), another product's devices that share our IDs or our service name,
// and per-thread services and INFs.
Scene BuildMachine() {
    Scene scene;
    int slot = 0;
    const auto instance = [&slot](const std::string& id) {
        return id + "\\3&2411E6FE&0&" + std::to_string(slot++);
    };
    const auto addProduct = [&](const std::string& service, const std::string& id, bool present) {
        const std::string package = "kvxpkg" + std::to_string(slot % 5) + ".inf";
        const std::string other = "othpkg" + std::to_string(slot) + ".inf";
        kvxsim::AddFile(kvxsim::InfDirectory() + package, "; ours\r\n");
        kvxsim::AddFile(kvxsim::InfDirectory() + other, "; theirs\r\n");
        const std::string instanceId = instance(id);
        kvxsim::AddDevice({.instanceId = instanceId,
                           .service = service,
                           .hardwareIds = {id + "&REV_01", id},
                           .present = present,
                           .drivers = {MakeDriver(kOtherProvider, other),
                                       MakeDriver(DriverProviderName, package)}});
        scene.productDevices.insert(instanceId);
        scene.productPackages.insert(kvxsim::InfDirectory() + package);
    };
    const auto addOther = [&](const std::string& service, const std::string& id) {
        const std::string instanceId = instance(id);
        const std::string package = "othpkg" + std::to_string(slot) + ".inf";
        kvxsim::AddFile(kvxsim::InfDirectory() + package, "; theirs\r\n");
        kvxsim::AddDevice({.instanceId = instanceId,
                           .service = service,
                           .hardwareIds = {id},
                           .drivers = {MakeDriver(kOtherProvider, package)}});
        scene.otherDevices.insert(instanceId);
    };

    for (size_t i = 0; i < std::size(Dz4xHardwareIds); ++i) {
        addProduct(Dz4xDeviceService, Dz4xHardwareIds[i], i % 4 != 3);
    }
    for (const char* id : HxHardwareIds) addProduct(HxDeviceService, id, true);
    addProduct(HxDeviceService, "pci\\ven_0e7c&dev_0001&subsys_00000e7c", false);

    addOther("othernic", std::string(Dz4xHardwareIds[0]) + "&REV_09");
    addOther("othernic", HxHardwareIds[1]);
    addOther(Dz4xDeviceService, "PCI\\VEN_1011&DEV_0047");
    addOther(HxDeviceService, "PCI\\VEN_0E7C&DEV_0003");
    addOther("disk", "IDE\\DiskQEMU");

    for (int thread = 0; thread < kThreads; ++thread) {
        kvxsim::AddService({.name = ThreadService(thread), .running = true});
        kvxsim::AddFile(ThreadInf(thread), "; Copyright 2004, Kavexa Systems Inc\r\n; thread " +
                                               std::to_string(thread) + "\r\n[Version]\r\n");
    }
    kvxsim::AddService(
        {.name = kStuckService, .running = true, .stopError = ERROR_DEPENDENT_SERVICES_RUNNING});
    kvxsim::AddService({.name = "dz4x", .running = true});
    kvxsim::AddService({.name = "hxhw", .running = true});
    return scene;
}

// One call of a thread's script, and the result the call gives when it runs alone.
struct Step {
    enum Kind { Remove, Stop, Copy } kind;
    std::string first;
    std::string second;
    DWORD expected;
};

// Every thread goes through every removal request, stops its own service (running only the
// first time), a service that refuses to stop and one that does not exist, and stages its
// own INF and a missing one.
std::vector<Step> ScriptFor(int thread) {
    const auto requests = RemovalRequests();
    std::vector<Step> steps;
    bool ownStopped = false;
    for (size_t round = 0; round < requests.size(); ++round) {
        const auto& [service, prefix] = requests[(round + thread) % requests.size()];
        const int pick = static_cast<int>(round + thread);
        Step remove{Step::Remove, service, prefix, ERROR_SUCCESS};
        Step stop{Step::Stop, ThreadService(thread), {}, ERROR_SUCCESS};
        if (pick % 4 == 1) stop = {Step::Stop, kStuckService, {}, ERROR_DEPENDENT_SERVICES_RUNNING};
        if (pick % 4 == 2) stop = {Step::Stop, kMissingService, {}, ERROR_SERVICE_DOES_NOT_EXIST};
        if (stop.first == ThreadService(thread)) {
            if (ownStopped) stop.expected = ERROR_SERVICE_NOT_ACTIVE;
            ownStopped = true;
        }
        Step copy{Step::Copy, ThreadInf(thread), {}, ERROR_SUCCESS};
        if (pick % 5 == 4) copy = {Step::Copy, kMissingInf, {}, ERROR_FILE_NOT_FOUND};
        // Mixed order, so that every kind of call overlaps every other.
        const Step ordered[3][3] = {
            {remove, stop, copy}, {stop, copy, remove}, {copy, remove, stop}};
        for (const Step& step : ordered[pick % 3]) steps.push_back(step);
    }
    return steps;
}

DWORD RunStep(const Step& step) {
    switch (step.kind) {
        case Step::Remove:
            return KVXSetup_RemoveDevices(step.first.c_str(), step.second.c_str(),
                                          DriverProviderName);
        case Step::Stop:
            return KVXSetup_StopService(step.first.c_str());
        case Step::Copy:
            return KVXSetup_CopyOemInf(step.first.c_str(), SP_COPY_FORCE_IN_USE);
    }
    return ~DWORD{0};
}

std::set<std::string> AllFiles() {
    std::set<std::string> files;
    for (const char* directory : {"C:\\WINNT\\inf", "C:\\setup", "C:\\WINNT\\system32\\drivers"}) {
        for (const std::string& name : kvxsim::FilesIn(directory)) {
            files.insert(std::string(directory) + "\\" + name);
        }
    }
    return files;
}

TEST(ConcurrentExports, MixedCallsFromEightThreadsActAsOneAfterAnother) {
    std::vector<std::vector<Step>> scripts;
    for (int thread = 0; thread < kThreads; ++thread) scripts.push_back(ScriptFor(thread));

    for (int machine = 0; machine < kMachines; ++machine) {
        SCOPED_TRACE("machine " + std::to_string(machine));
        kvxsim::Reset();
        const Scene scene = BuildMachine();
        const std::set<std::string> filesBefore = AllFiles();

        std::vector<std::vector<DWORD>> results(kThreads);
        std::atomic<int> waiting{kThreads};
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&, thread] {
                // Released together, so the first calls overlap too.
                waiting.fetch_sub(1);
                while (waiting.load() > 0) std::this_thread::yield();
                for (const Step& step : scripts[thread]) results[thread].push_back(RunStep(step));
            });
        }
        for (std::thread& thread : threads) thread.join();

        for (int thread = 0; thread < kThreads; ++thread) {
            std::vector<DWORD> expected;
            for (const Step& step : scripts[thread]) expected.push_back(step.expected);
            EXPECT_EQ(results[thread], expected) << "thread " << thread;
        }
        const kvxsim::OpenCounts open = kvxsim::OpenResources();
        EXPECT_EQ(open.Total(), 0)
            << "device lists " << open.deviceLists << ", driver lists " << open.driverLists
            << ", local blocks " << open.localBlocks << ", scm " << open.scmHandles << ", services "
            << open.serviceHandles;
        EXPECT_EQ(kvxsim::BadLocalFrees(), 0);

        for (const kvxsim::Device& device : kvxsim::Devices()) {
            if (scene.productDevices.count(device.instanceId)) {
                EXPECT_TRUE(device.removed) << "still there: " << device.instanceId;
            } else {
                EXPECT_FALSE(device.removed) << "removed: " << device.instanceId;
            }
        }
        for (const std::string& name : scene.otherDevices) {
            EXPECT_TRUE(kvxsim::FindDevice(name).has_value()) << name;
        }
        // Files: the product's driver packages went, everything else stayed, and each
        // thread's INF was staged once.
        std::set<std::string> expectedFiles;
        for (const std::string& file : filesBefore) {
            if (!scene.productPackages.count(file)) expectedFiles.insert(file);
        }
        std::set<std::string> filesAfter = AllFiles();
        int staged = 0;
        for (auto it = filesAfter.begin(); it != filesAfter.end();) {
            if (!filesBefore.count(*it) && it->rfind("C:\\WINNT\\inf\\oem", 0) == 0) {
                staged += it->ends_with(".inf") ? 1 : 0;
                it = filesAfter.erase(it);
            } else {
                ++it;
            }
        }
        EXPECT_EQ(filesAfter, expectedFiles);
        EXPECT_EQ(staged, kThreads);

        for (int thread = 0; thread < kThreads; ++thread) {
            const auto service = kvxsim::FindService(ThreadService(thread));
            ASSERT_TRUE(service.has_value());
            EXPECT_EQ(service->state, DWORD{SERVICE_STOPPED});
        }
        for (const char* name : {kStuckService, "dz4x", "hxhw"}) {
            const auto service = kvxsim::FindService(name);
            ASSERT_TRUE(service.has_value()) << name;
            EXPECT_EQ(service->state, DWORD{SERVICE_RUNNING}) << name;
        }
        if (HasFailure()) return;
    }
    size_t calls = 0;
    for (const std::vector<Step>& script : scripts) calls += script.size();
    printf("figure: concurrency threads %d machines %d calls %zu\n", kThreads, kMachines,
           calls * kMachines);
}

// The whole removal sequence from every thread at once: each call still reports success
// and the machine ends as after one call.
TEST(ConcurrentExports, RemovalSequenceFromEightThreadsRemovesTheProductOnce) {
    for (int machine = 0; machine < 4; ++machine) {
        SCOPED_TRACE("machine " + std::to_string(machine));
        kvxsim::Reset();
        const Scene scene = BuildMachine();
        kvxsim::SetStringValue(Dz4xServiceKey, ImagePathValueName,
                               "System32\\DRIVERS\\dz4xwin2k.sys", REG_EXPAND_SZ);
        kvxsim::SetStringValue(HxServiceKey, ImagePathValueName, "System32\\DRIVERS\\hxhwwin2k.sys",
                               REG_EXPAND_SZ);

        std::vector<DWORD> results(kThreads, ~DWORD{0});
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&results, thread] { results[thread] = KVXSetup_PnPRemoveKVX(); });
        }
        for (std::thread& thread : threads) thread.join();

        EXPECT_EQ(results, std::vector<DWORD>(kThreads, ERROR_SUCCESS));
        EXPECT_EQ(kvxsim::OpenResources().Total(), 0);
        EXPECT_EQ(kvxsim::BadLocalFrees(), 0);
        for (const kvxsim::Device& device : kvxsim::Devices()) {
            EXPECT_EQ(device.removed, scene.productDevices.count(device.instanceId) == 1)
                << device.instanceId;
        }
        for (int thread = 0; thread < kThreads; ++thread) {
            EXPECT_TRUE(kvxsim::ServiceExists(ThreadService(thread)));
        }
        if (HasFailure()) return;
    }
}

}  // namespace
