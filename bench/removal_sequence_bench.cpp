// The removal sequence walks the whole device list once per catalogue entry (12 + 2
// times), so its cost follows the number of devices on the machine, not the number of
// boards of the product.
#include <benchmark/benchmark.h>
#include <kvxsim/machine.h>

#include <string>

#include "catalog/catalog.h"
#include "entry/exports.h"

namespace {

// One device in ten is a board of the product, alternating between the families; the
// rest belong to other drivers, as on a well-equipped machine.
void BuildMachine(int deviceCount) {
    kvxsim::Reset();
    kvxsim::SetStringValue(Dz4xServiceKey, ImagePathValueName, "System32\\DRIVERS\\dz4xwin2k.sys");
    kvxsim::SetStringValue(HxServiceKey, ImagePathValueName, "System32\\DRIVERS\\hxhwwin2k.sys");
    for (const char* service : {"Dz4x", "Hx", "Hxhw", "tlxdaemon"}) {
        kvxsim::AddService({.name = service, .running = true});
    }
    for (int i = 0; i < deviceCount; ++i) {
        const std::string n = std::to_string(i);
        kvxsim::Device device;
        if (i % 10 == 0) {
            const bool first = (i / 10) % 2 == 0;
            const std::string id = first ? Dz4xHardwareIds[i % 12] : HxHardwareIds[i % 15];
            const std::string inf = kvxsim::InfDirectory() + "oem" + n + ".inf";
            kvxsim::AddFile(inf, "; Copyright 2004, Kavexa Systems Inc\r\n");
            device = {.instanceId = "PCI\\BOARD\\" + n,
                      .service = first ? "dz4x" : "hxhw",
                      .hardwareIds = {id + "&REV_01", id},
                      .drivers = {{.description = "Board",
                                   .provider = DriverProviderName,
                                   .infPath = inf,
                                   .section = "Board.Install",
                                   .hardwareId = id}}};
        } else {
            device = {.instanceId = "PCI\\OTHER\\" + n,
                      .service = "other" + std::to_string(i % 7),
                      .hardwareIds = {"PCI\\VEN_8086&DEV_7110&REV_02", "PCI\\VEN_8086&DEV_7110"}};
        }
        kvxsim::AddDevice(std::move(device));
    }
    kvxsim::ClearJournal();
}

void RemovalSequence(benchmark::State& state) {
    const int deviceCount = static_cast<int>(state.range(0));
    size_t platformCalls = 0;
    size_t traceLines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        BuildMachine(deviceCount);
        state.ResumeTiming();
        benchmark::DoNotOptimize(KVXSetup_PnPRemoveKVX());
        state.PauseTiming();
        platformCalls = kvxsim::Journal().size();
        traceLines = kvxsim::DebugOutput().size();
        state.ResumeTiming();
    }
    state.counters["devices"] = deviceCount;
    state.counters["platform_calls"] = static_cast<double>(platformCalls);
    state.counters["trace_lines"] = static_cast<double>(traceLines);
    state.counters["per_device"] = benchmark::Counter(
        static_cast<double>(deviceCount),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(RemovalSequence)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
