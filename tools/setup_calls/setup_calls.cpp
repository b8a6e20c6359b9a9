// The setup program's calls of the module on 32-bit Windows, where it loads the module
// itself. Each export returns the module's result (or why it could not be called: the
// load's error), writes the module's trace and the report of what it changed into the
// setup log as the host's output is written there, and says through `restart` whether a
// restart finishes what was in use.
#include <windows.h>

#include <string>

#include "interposition/error_text.h"
#include "module_call/module_call.h"
#include "setup_log.h"

namespace {

// The setup log shows what a program printed indented after a bar.
void LogHostLine(const char* log_path, const std::string& line) {
    AppendToSetupLog(log_path, "  | " + line);
}

void LogTrace(void* log_path, const std::string& line) {
    LogHostLine(static_cast<const char*>(log_path), line);
}

DWORD Call(ModuleRequest request, const char* log_path, DWORD* restart) {
    if (restart) *restart = 0;
    request.trace = LogTrace;
    request.trace_context = const_cast<char*>(log_path);
    const ModuleOutcome outcome = CallModule(request);
    if (outcome.not_called != ERROR_SUCCESS) {
        LogHostLine(log_path,
                    outcome.not_called_because + ": " + DescribeResult(outcome.not_called));
        return outcome.not_called;
    }
    for (const std::string& line : outcome.changes) LogHostLine(log_path, line);
    if (outcome.result != ERROR_SUCCESS) return outcome.result;
    for (const std::string& reason : outcome.restart_reasons) LogHostLine(log_path, reason);
    if (restart && !outcome.restart_reasons.empty()) *restart = 1;
    return outcome.result;
}

}  // namespace

extern "C" DWORD WINAPI KvxCallInstall(LPCSTR module_path, LPCSTR first_inf, LPCSTR second_inf,
                                       LPCSTR log_path, DWORD* restart) {
    ModuleRequest request;
    request.module_path = module_path ? module_path : "";
    request.call = ModuleCall::kInstall;
    request.first_inf = first_inf ? first_inf : "";
    request.second_inf = second_inf ? second_inf : "";
    return Call(request, log_path, restart);
}

extern "C" DWORD WINAPI KvxCallRemove(LPCSTR module_path, LPCSTR log_path, DWORD* restart) {
    ModuleRequest request;
    request.module_path = module_path ? module_path : "";
    request.call = ModuleCall::kRemove;
    return Call(request, log_path, restart);
}
