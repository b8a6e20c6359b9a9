#include "module_call/module_call.h"

#include "interposition/machine_changes.h"
#include "win32_common/import_table.h"

namespace {

using InstallExport = DWORD(WINAPI*)(LPCSTR, LPCSTR);
using RemoveExport = DWORD(WINAPI*)();

// The caller's log that receives the module's trace. A caller runs the module on one
// thread and the module starts none, so one slot suffices; it stays set until the module
// is unloaded, so that its detach line is forwarded too.
TraceSink g_trace = nullptr;
void* g_trace_context = nullptr;

// Where the module's debugger output goes while it runs for us: to any debug viewer as
// before, and into the caller's log, where an administrator reading it finds it.
void WINAPI ForwardDebugString(LPCSTR text) {
    OutputDebugStringA(text);
    const DWORD error = GetLastError();
    if (g_trace && text) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        // The module ends some lines with a write of their line break alone: in a log,
        // where every message is a line, that would be an empty one.
        if (!line.empty()) g_trace(g_trace_context, line);
    }
    // What the module sees afterwards is what the real call left, not what logging left.
    SetLastError(error);
}

DWORD Invoke(FARPROC address, const ModuleRequest& request) {
    if (request.call == ModuleCall::kInstall) {
        return reinterpret_cast<InstallExport>(reinterpret_cast<void*>(address))(
            request.first_inf.c_str(), request.second_inf.c_str());
    }
    return reinterpret_cast<RemoveExport>(reinterpret_cast<void*>(address))();
}

ModuleOutcome NotCalled(const std::string& because, DWORD error) {
    ModuleOutcome outcome;
    outcome.not_called = error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
    outcome.not_called_because = because;
    return outcome;
}

ModuleOutcome CallLoadedModule(HMODULE module, const ModuleRequest& request) {
    const std::string& path = request.module_path;
    const FARPROC address = GetProcAddress(module, ExportName(request.call));
    if (!address) {
        const DWORD error = GetLastError();
        return NotCalled(path + " has no export " + ExportName(request.call), error);
    }
    // Each change goes through as the module asks; what is in use is finished at the next
    // restart (a file the install puts back renamed over the old one, any other deleted),
    // and the outcome of each is kept for the log, as the console host reports a real run.
    std::string problem;
    const DWORD interposed =
        InterposeMachineChanges(module, InterpositionMode::kPassThrough, true, &problem);
    if (interposed != ERROR_SUCCESS) {
        return NotCalled(problem.empty() ? "cannot watch the changes of " + path : problem,
                         interposed);
    }
    const ImportReplacement replacements[] = {
        {"OutputDebugStringA",
         reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ForwardDebugString))}};
    const DWORD replaced = ReplaceImports(module, replacements);
    if (replaced != ERROR_SUCCESS) {
        return NotCalled("cannot forward the trace of " + path, replaced);
    }
    ModuleOutcome outcome;
    outcome.result = Invoke(address, request);
    ScheduleHeldBackDeletions();
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

ModuleOutcome CallModule(const ModuleRequest& request) {
    // By full path: the system's search order could find another copy first. The module's
    // attach line is written before its imports can be pointed at the forwarder, so it
    // reaches debug viewers only.
    HMODULE module = LoadLibraryA(request.module_path.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        return NotCalled("cannot load " + request.module_path, error);
    }
    g_trace = request.trace;
    g_trace_context = request.trace_context;
    // A failed install's clean-up is a second call in the same process.
    ForgetRecordedChanges();
    ModuleOutcome outcome = CallLoadedModule(module, request);
    FreeLibrary(module);
    g_trace = nullptr;
    g_trace_context = nullptr;
    // Loaded by someone else in this process as well, the module stays: its import must
    // not point into this DLL, which its caller unloads once done.
    if (HMODULE remaining = GetModuleHandleA(request.module_path.c_str())) {
        const ImportReplacement original[] = {
            {"OutputDebugStringA",
             reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&OutputDebugStringA))}};
        ReplaceImports(remaining, original);
    }
    return outcome;
}
