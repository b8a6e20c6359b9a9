#include "module_call.h"

#include "interposition/machine_changes.h"
#include "msi_session.h"
#include "win32_common/import_table.h"

namespace {

using InstallExport = DWORD(WINAPI*)(LPCSTR, LPCSTR);
using RemoveExport = DWORD(WINAPI*)();

// The installation whose log receives the module's trace. A custom action runs on one
// thread and the module starts none, so one slot suffices; it stays set until the module
// is unloaded, so that its detach line is forwarded too.
MSIHANDLE g_trace_installation = 0;

// Where the module's debugger output goes while it runs for us: to any debug viewer as
// before, and into the installation's log, where an administrator reading /l*v finds it.
void WINAPI ForwardDebugString(LPCSTR text) {
    OutputDebugStringA(text);
    const DWORD error = GetLastError();
    if (g_trace_installation && text) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        // The module ends some lines with a write of their line break alone: in the log,
        // where every message is a line, that would be an empty one.
        if (!line.empty()) LogToInstallation(g_trace_installation, "KVXSETUPW2K: " + line);
    }
    // What the module sees afterwards is what the real call left, not what logging left.
    SetLastError(error);
}

DWORD Invoke(FARPROC address, const ActionData& data, ModuleCall call) {
    if (call == ModuleCall::kInstall) {
        return reinterpret_cast<InstallExport>(reinterpret_cast<void*>(address))(
            data.first_inf.c_str(), data.second_inf.c_str());
    }
    return reinterpret_cast<RemoveExport>(reinterpret_cast<void*>(address))();
}

ModuleOutcome NotCalled(const std::string& because, DWORD error) {
    ModuleOutcome outcome;
    outcome.not_called = error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
    outcome.not_called_because = because;
    return outcome;
}

ModuleOutcome CallLoadedModule(HMODULE module, const ActionData& data, ModuleCall call) {
    const FARPROC address = GetProcAddress(module, ExportName(call));
    if (!address) {
        const DWORD error = GetLastError();
        return NotCalled(data.module_path + " has no export " + ExportName(call), error);
    }
    // Each change goes through as the module asks; a file it cannot delete because it is
    // in use is scheduled for deletion at the next restart, and the outcome of each is kept
    // for the log, as the console host reports a real run.
    std::string problem;
    const DWORD interposed =
        InterposeMachineChanges(module, InterpositionMode::kPassThrough, true, &problem);
    if (interposed != ERROR_SUCCESS) {
        return NotCalled(
            problem.empty() ? "cannot watch the changes of " + data.module_path : problem,
            interposed);
    }
    const ImportReplacement replacements[] = {
        {"OutputDebugStringA",
         reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ForwardDebugString))}};
    const DWORD replaced = ReplaceImports(module, replacements);
    if (replaced != ERROR_SUCCESS) {
        return NotCalled("cannot forward the trace of " + data.module_path, replaced);
    }
    ModuleOutcome outcome;
    outcome.result = Invoke(address, data, call);
    outcome.changes = DescribeRecordedChanges();
    outcome.changes.push_back(SummarizeRecordedChanges());
    for (const RecordedChange& change : RecordedChanges()) {
        ++(change.error == ERROR_SUCCESS ? outcome.changes_made : outcome.refusals);
    }
    RestartNeeded(&outcome.restart_reasons);
    return outcome;
}

}  // namespace

const char* ExportName(ModuleCall call) {
    return call == ModuleCall::kInstall ? "KVXSetup_PnPInstallKVX" : "KVXSetup_PnPRemoveKVX";
}

ModuleOutcome CallModule(MSIHANDLE install, const ActionData& data, ModuleCall call) {
    // By full path: the system's search order could find another copy first. The module's
    // attach line is written before its imports can be pointed at the forwarder, so it
    // reaches debug viewers only.
    HMODULE module = LoadLibraryA(data.module_path.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        return NotCalled("cannot load " + data.module_path, error);
    }
    g_trace_installation = install;
    // A failed install's clean-up is a second call in the same process.
    ForgetRecordedChanges();
    ModuleOutcome outcome = CallLoadedModule(module, data, call);
    FreeLibrary(module);
    g_trace_installation = 0;
    // Loaded by someone else in this process as well, the module stays: its import must
    // not point into this DLL, which the installer unloads after the action.
    if (HMODULE remaining = GetModuleHandleA(data.module_path.c_str())) {
        const ImportReplacement original[] = {
            {"OutputDebugStringA",
             reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&OutputDebugStringA))}};
        ReplaceImports(remaining, original);
    }
    return outcome;
}
