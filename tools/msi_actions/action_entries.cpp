// The package's four deferred custom actions. Each reads its CustomActionData, calls the
// installed module through CallModule, writes the result into the installation's log, and
// answers the installer as Windows Installer expects: success, or ERROR_INSTALL_FAILURE
// (which makes msiexec end with 1603 and roll back).
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

#include "action_data.h"
#include "action_run.h"
#include "interposition/error_text.h"
#include "module_call/module_call.h"
#include "msi_session.h"
#include "win32_common/install_folder_check.h"
#include "win32_common/package_check.h"
#include "win32_common/system_dlls.h"

namespace {

constexpr char kLogPrefix[] = "KvxMsiActions: ";

void Log(MSIHANDLE install, const std::string& line) {
    LogToInstallation(install, kLogPrefix + line);
}

void LogTrace(void* install, const std::string& line) {
    LogToInstallation(*static_cast<MSIHANDLE*>(install), "KVXSETUPW2K: " + line);
}

// The module's trace goes into the installation's log, where an administrator reading /l*v
// finds it.
ModuleOutcome CallModule(MSIHANDLE install, const ActionData& data, ModuleCall call) {
    ModuleRequest request;
    request.module_path = data.module_path;
    request.call = call;
    request.first_inf = data.first_inf;
    request.second_inf = data.second_inf;
    request.trace = LogTrace;
    request.trace_context = &install;
    return CallModule(request);
}

bool ReadActionData(MSIHANDLE install, ActionData* data) {
    const std::string text = ReadProperty(install, "CustomActionData");
    if (ParseActionData(text, data)) return true;
    Log(install, "CustomActionData \"" + text +
                     "\" is not \"MODULE|FIRST_INF|SECOND_INF\"; the module is not called");
    return false;
}

// Logs the outcome; true when the module was called and returned 0.
bool LogOutcome(MSIHANDLE install, ModuleCall call, const ModuleOutcome& outcome) {
    if (outcome.not_called != ERROR_SUCCESS) {
        Log(install, outcome.not_called_because + ": " + DescribeResult(outcome.not_called));
        return false;
    }
    Log(install, std::string(ExportName(call)) + " returned " + DescribeResult(outcome.result));
    for (const std::string& line : outcome.changes) Log(install, line);
    return outcome.result == ERROR_SUCCESS;
}

// The installer restarts (or asks to, and ends with 3010) only once the whole script has
// run; the reasons go to the log so that an administrator knows what waits for it.
void RequestRestartIfNeeded(MSIHANDLE install, const ModuleOutcome& outcome) {
    if (outcome.restart_reasons.empty()) return;
    for (const std::string& reason : outcome.restart_reasons) {
        Log(install, "finishes at the next restart: " + reason);
    }
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
}

// The install action removes the earlier release first: a package it cannot install is found
// out before that, and nothing is changed.
bool PackageCanBeInstalled(MSIHANDLE install, const ActionData& data) {
    std::string problem;
    const DWORD error = CheckDriverPackages(data.first_inf, data.second_inf, &problem);
    if (error == ERROR_SUCCESS) return true;
    Log(install, "the driver packages cannot be installed: " + problem + ": " +
                     DescribeResult(error) + "; nothing was changed");
    return false;
}

UINT RunRemoval(MSIHANDLE install, const char* what, bool only_after_install, LastRunFacts* facts) {
    ActionData data;
    if (!ReadActionData(install, &data)) return ERROR_INSTALL_FAILURE;
    // A package that failed the install action's check never reached the module: the
    // earlier release it would have replaced is still there, and stays.
    if (only_after_install) {
        std::string problem;
        if (CheckDriverPackages(data.first_inf, data.second_inf, &problem) != ERROR_SUCCESS) {
            Log(install, std::string(what) + ": nothing to take back, the install action " +
                             "did not call the module (" + problem + ")");
            return ERROR_SUCCESS;
        }
    }
    Log(install,
        std::string(what) + ": " + ExportName(ModuleCall::kRemove) + "() from " + data.module_path);
    const ModuleOutcome outcome = CallModule(install, data, ModuleCall::kRemove);
    NoteOutcome(outcome, facts);
    if (!LogOutcome(install, ModuleCall::kRemove, outcome)) return ERROR_INSTALL_FAILURE;
    RequestRestartIfNeeded(install, outcome);
    return ERROR_SUCCESS;
}

UINT InstallDrivers(MSIHANDLE install, LastRunFacts* facts) {
    ActionData data;
    if (!ReadActionData(install, &data)) return ERROR_INSTALL_FAILURE;
    // No "Files Needed" dialog on a desktop no one sees: what is missing fails instead.
    UseSetupApiNonInteractively();
    if (!PackageCanBeInstalled(install, data)) return ERROR_INSTALL_FAILURE;
    Log(install, std::string("installing the drivers: ") + ExportName(ModuleCall::kInstall) +
                     "(\"" + data.first_inf + "\", \"" + data.second_inf + "\") from " +
                     data.module_path);
    const ModuleOutcome outcome = CallModule(install, data, ModuleCall::kInstall);
    NoteOutcome(outcome, facts);
    if (LogOutcome(install, ModuleCall::kInstall, outcome)) {
        RequestRestartIfNeeded(install, outcome);
        return ERROR_SUCCESS;
    }
    // The module stops at the first family that fails and leaves the others installed. They
    // come off here, not only in the rollback action: that one runs only if the installer
    // gets to roll back, and some installers run it after the module's file is gone.
    if (outcome.not_called == ERROR_SUCCESS) {
        Log(install, "taking off what the failed install put on");
        LogOutcome(install, ModuleCall::kRemove, CallModule(install, data, ModuleCall::kRemove));
    }
    return ERROR_INSTALL_FAILURE;
}

UINT RemoveDrivers(MSIHANDLE install, LastRunFacts* facts) {
    UseSetupApiNonInteractively();
    return RunRemoval(install, "removing the drivers", false, facts);
}

UINT RollBackDrivers(MSIHANDLE install, LastRunFacts* facts) {
    UseSetupApiNonInteractively();
    return RunRemoval(install, "rolling back the drivers", true, facts);
}

}  // namespace

extern "C" UINT __stdcall KvxInstallDrivers(MSIHANDLE install) {
    return RunDriverAction(install, "install", InstallDrivers);
}

extern "C" UINT __stdcall KvxRemoveDrivers(MSIHANDLE install) {
    return RunDriverAction(install, "uninstall", RemoveDrivers);
}

// The removal's rollback twin: runs when the installation fails after the drivers were
// removed (an uninstall, or the earlier version's removal by an upgrade), once the
// installer has restored the module's and the packages' files: the drivers go back on.
extern "C" UINT __stdcall KvxRestoreDrivers(MSIHANDLE install) {
    ActionData data;
    if (!ReadActionData(install, &data)) return ERROR_INSTALL_FAILURE;
    UseSetupApiNonInteractively();
    Log(install, std::string("restoring the drivers: ") + ExportName(ModuleCall::kInstall) + "(\"" +
                     data.first_inf + "\", \"" + data.second_inf + "\") from " + data.module_path);
    const ModuleOutcome outcome = CallModule(install, data, ModuleCall::kInstall);
    if (!LogOutcome(install, ModuleCall::kInstall, outcome)) return ERROR_INSTALL_FAILURE;
    RequestRestartIfNeeded(install, outcome);
    return ERROR_SUCCESS;
}

// Runs when the installation fails after KvxInstallDrivers has run (or while it ran): the
// drivers it installed come off again, before the installer takes back the module's file.
extern "C" UINT __stdcall KvxRollBackDrivers(MSIHANDLE install) {
    return RunDriverAction(install, "rollback", RollBackDrivers);
}

// Immediate, before the script copies anything: a folder given with INSTALLDIR= that is already
// there receives the module that the system's account loads, so it must be one that only an
// administrator could have prepared.
extern "C" UINT __stdcall KvxCheckInstallFolder(MSIHANDLE install) {
    std::string folder = ReadProperty(install, "INSTALLDIR");
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (folder.empty() || GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ERROR_SUCCESS;
    }
    std::string problem;
    const DWORD error = CheckExistingInstallFolder(folder, &problem);
    if (error == ERROR_SUCCESS) {
        Log(install, folder + " exists and belongs to an administrator, SYSTEM or this account");
        return ERROR_SUCCESS;
    }
    Log(install, "refused: " + problem + ": " + DescribeResult(error) + "; nothing was changed");
    return ERROR_INSTALL_FAILURE;
}
