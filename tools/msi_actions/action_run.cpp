#include "action_run.h"

#include <string_view>

#include "interposition/error_text.h"
#include "interposition/machine_changes.h"
#include "kvx_version.h"
#include "msi_session.h"
#include "win32_common/run_lock.h"

UINT RunDriverAction(MSIHANDLE install, const char* action, DriverActionWork work) {
    LastRunFacts facts;
    facts.package = "msi";
    facts.action = action;
    facts.version = KVX_VERSION_TEXT;
    DWORD busy = ERROR_SUCCESS;
    HANDLE lock = TakeRunLock(&busy);
    UINT answer = ERROR_INSTALL_FAILURE;
    if (busy != ERROR_SUCCESS) {
        // A custom action cannot end the installation with 1618 itself: it fails, msiexec
        // ends with 1603, and the log and the record say why.
        LogToInstallation(install,
                          "KvxMsiActions: another run of the drivers' setup is in "
                          "progress; the drivers are left as they are: " +
                              DescribeResult(busy));
        facts.module_result = busy;
    } else {
        answer = work(install, &facts);
        ReleaseRunLock(lock);
    }
    // A rollback runs only because the installation is failing, whatever the removal did;
    // when the install action is what failed, its record says why and stays.
    const bool rollback = std::string_view(action) == "rollback";
    DWORD failed_result = ERROR_SUCCESS;
    if (rollback && LastRunIsFailedInstall(facts.package, &failed_result)) return answer;
    if (answer != ERROR_SUCCESS || rollback) {
        facts.exit_code = ERROR_INSTALL_FAILURE;
    } else if (facts.restart_pending) {
        facts.exit_code = ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    const DWORD written = WriteLastRunRecord(facts);
    if (written != ERROR_SUCCESS) {
        LogToInstallation(install, std::string("KvxMsiActions: cannot write HKLM\\") + kLastRunKey +
                                       ": " + DescribeResult(written));
    }
    return answer;
}

void NoteOutcome(const ModuleOutcome& outcome, LastRunFacts* facts) {
    facts->module_result =
        outcome.not_called != ERROR_SUCCESS ? outcome.not_called : outcome.result;
    facts->restart_pending = !outcome.restart_reasons.empty();
    facts->changes = outcome.changes_made;
    facts->refusals = outcome.refusals;
}
