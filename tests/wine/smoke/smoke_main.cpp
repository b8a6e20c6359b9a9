// A short look at the module working on a real Win32 implementation: load it, stage one
// INF of ours and install one board's driver, with the module's trace printed as written.
#include <windows.h>

#include <cstdio>
#include <string>

#include "harness/devices.h"
#include "harness/module.h"
#include "harness/test_inf.h"
#include "harness/trace_capture.h"

namespace {

const char kHardwareId[] = "PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C";

void PrintWrite(const std::string& text) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

void Say(const std::string& text) {
    printf("== %s\n", text.c_str());
    fflush(stdout);
}

}  // namespace

int main() {
    kvxtest::InstallTraceCapture();
    kvxtest::SetTraceEcho(PrintWrite);

    kvxtest::TestInf inf;
    inf.service = "dz4x";
    inf.binary = "dz4xwin2k.sys";
    inf.hardware_ids = {kHardwareId};
    inf.description = "Smoke board";
    const std::string inf_path = kvxtest::WriteTestInf("smoke.inf", inf);
    if (inf_path.empty() || !kvxtest::RegisterRootDevice("KVXSMOKE", {kHardwareId})) {
        Say("could not set the machine up");
        return 1;
    }
    Say("loading KVXSETUPW2K.dll");
    kvxtest::LoadedModule module;
    if (!module.handle()) {
        Say("LoadLibraryA failed, err=" + std::to_string(module.load_error()));
        return 1;
    }
    const auto copy = module.Find<kvxtest::CopyOemInfFn>("KVXSetup_CopyOemInf");
    const auto install = module.Find<kvxtest::InstallPnpDeviceFn>("KVXSetup_InstallPnpDevice");
    if (!copy || !install) {
        Say("KVXSetup_CopyOemInf or KVXSetup_InstallPnpDevice is not exported");
        return 1;
    }
    Say("KVXSetup_CopyOemInf(\"" + inf_path + "\", 0)");
    const DWORD copied = copy(inf_path.c_str(), 0);
    Say("result " + std::to_string(copied));
    Say("KVXSetup_InstallPnpDevice(\"" + inf_path + "\", \"" + kHardwareId + "\", TRUE)");
    const DWORD installed = install(inf_path.c_str(), kHardwareId, TRUE);
    Say("result " + std::to_string(installed));
    const auto device = kvxtest::FindRootDevice("KVXSMOKE");
    const std::string service = device ? device->service : "(device gone)";
    Say("device Root\\KVXSMOKE\\0000 now has service \"" + service + "\"");
    return copied == 0 && installed == 0 && service == "dz4x" ? 0 : 1;
}
