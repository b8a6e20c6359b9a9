// The result of the last run of the product's setup, kept on the machine for inventory
// tools (SCCM's hardware inventory, an Intune detection script, Ansible's win_reg_stat),
// which read the registry long after the deployment tool has logged the exit code. Each
// run replaces the record; the setup program writes the same value names.
#pragma once

#include <windows.h>

#include <string>

// Under HKLM, in the machine's own registry view: the writer runs at the machine's width.
inline constexpr char kLastRunKey[] = "Software\\Kavexa Systems Inc\\KVX Board Drivers\\LastRun";

struct LastRunFacts {
    const char* package = "";  // "exe" or "msi".
    const char* action = "";   // "install", "uninstall", "rollback".
    const char* version = "";
    DWORD exit_code = 0;      // What the run ends with: 0, 3010, 1603, ...
    DWORD module_result = 0;  // The module's own result, 0 when it succeeded.
    bool restart_pending = false;
    // What the module changed and what the system refused; -1 (0xFFFFFFFF) when unknown.
    DWORD changes = 0xFFFFFFFF;
    DWORD refusals = 0xFFFFFFFF;
    std::string log_path;
};

// Replaces the record: Time (UTC, "YYYY-MM-DDTHH:MM:SSZ"), Package, Action, Version, Log as
// strings; ExitCode, ModuleResult, RestartPending, Changes, Refusals as DWORDs. Returns 0
// or the registry's error.
DWORD WriteLastRunRecord(const LastRunFacts& facts);

// True when the record is of a failed install by `package` ("exe" or "msi"), with that
// install's module result in *module_result: what a rollback of the same run keeps.
bool LastRunIsFailedInstall(const char* package, DWORD* module_result);
