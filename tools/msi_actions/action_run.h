// What every driver action does around its work: one run of the product's setup at a time,
// and the LastRun record of how the action ended.
#pragma once

#include <windows.h>

#include <msi.h>

#include "module_call/module_call.h"
#include "win32_common/last_run_record.h"

// The action's work: fills in the record's facts and answers as a custom action does.
using DriverActionWork = UINT (*)(MSIHANDLE install, LastRunFacts* facts);

// Runs `work` under the run lock, or fails the installation when another run holds it;
// then records the outcome under the action's name ("install", "uninstall", "rollback").
UINT RunDriverAction(MSIHANDLE install, const char* action, DriverActionWork work);

// The record's facts that come from one call of the module.
void NoteOutcome(const ModuleOutcome& outcome, LastRunFacts* facts);
