// Services and event-log sources as a driver package's installer leaves them: what the demo
// machine, the host's test machine and the Wine harness put on a prefix.
#pragma once

#include <windows.h>

#include <string>

namespace kvxwin {

// A demand-start service of `type` (SERVICE_KERNEL_DRIVER, SERVICE_WIN32_OWN_PROCESS, ...)
// running `command`, whose binary need not exist unless `start` asks for the service to be
// started; then this waits a few seconds at most for it to run. ERROR_SUCCESS, or the
// error of the step that failed (ERROR_SERVICE_EXISTS when it is there already).
DWORD CreateDemandStartService(const std::string& name, DWORD type, const std::string& command,
                               bool start);

// The source key of `name` under the System event log, with the message file and event
// types a driver's source carries. ERROR_SUCCESS or the registry's error.
DWORD CreateEventLogSource(const std::string& name);

}  // namespace kvxwin
