// The module called in-process by a program of ours that is not the console host (the MSI
// packages' custom actions, the setup program on 32-bit Windows): loaded by full path, its
// changes followed and what is in use finished at the next restart, its trace handed to
// the caller's log, unloaded again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class ModuleCall { kInstall, kRemove };

// Receives each line of the module's trace, without its line break, while the module runs.
using TraceSink = void (*)(void* context, const std::string& line);

struct ModuleRequest {
    std::string module_path;  // The installed KVXSETUPW2K.dll, full path.
    ModuleCall call = ModuleCall::kInstall;
    std::string first_inf;  // Install only.
    std::string second_inf;
    TraceSink trace = nullptr;
    void* trace_context = nullptr;
};

struct ModuleOutcome {
    // 0 when the export was called; otherwise why it could not be (load, export, import
    // table), and `result` means nothing.
    DWORD not_called = ERROR_SUCCESS;
    std::string not_called_because;
    DWORD result = ERROR_SUCCESS;
    // What the call changed and what was refused, one line each, then a summary line.
    std::vector<std::string> changes;
    // How many of those were made and how many refused.
    DWORD changes_made = 0;
    DWORD refusals = 0;
    // What the call left to be finished at the next restart, one line each.
    std::vector<std::string> restart_reasons;
};

const char* ExportName(ModuleCall call);

// Every call of the module goes through here, so that what surrounds it (trace forwarding,
// recording what it changed, finishing files in use at the next restart) is in one place.
ModuleOutcome CallModule(const ModuleRequest& request);
