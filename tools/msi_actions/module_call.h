// The module called in-process by a custom action: loaded from where the package installed
// it, its trace forwarded into the installation's log, unloaded again.
#pragma once

#include <windows.h>

#include <msi.h>

#include <string>
#include <vector>

#include "action_data.h"

enum class ModuleCall { kInstall, kRemove };

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
// recording what it changed, scheduling in-use files for the next restart) is in one place.
ModuleOutcome CallModule(MSIHANDLE install, const ActionData& data, ModuleCall call);
