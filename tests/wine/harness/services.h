// Services of the test machine and their registry keys.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvxtest {

// A kernel driver service, demand start, whose binary need not exist: the module only ever
// stops and deletes it.
bool CreateDriverService(const std::string& name, const std::string& binary_path);
// An own-process Win32 service running the tests' fake service program, started and
// running when this returns true.
bool CreateRunningService(const std::string& name);
bool ServiceExists(const std::string& name);
// Waits up to a few seconds for the service to reach `state`.
bool WaitForServiceState(const std::string& name, unsigned long state);
// Current state (SERVICE_STOPPED, SERVICE_RUNNING, ...), or 0 when it cannot be queried.
unsigned long ServiceState(const std::string& name);
// Names of every service the service manager knows, drivers included.
std::vector<std::string> ListServices();

// The source key of `name` under the System event log.
bool CreateEventLogSource(const std::string& name);
bool EventLogSourceExists(const std::string& name);

std::string ServiceKeyPath(const std::string& name);  // Under HKEY_LOCAL_MACHINE.
std::string EventLogSourcePath(const std::string& name);

// Registry helpers under HKEY_LOCAL_MACHINE.
bool RegistryKeyExists(const std::string& path);
std::vector<std::string> ListRegistrySubkeys(const std::string& path);
std::optional<std::string> ReadRegistryString(const std::string& path, const std::string& value);
bool WriteRegistryString(const std::string& path, const std::string& value,
                         const std::string& data);
bool DeleteRegistryValue(const std::string& path, const std::string& value);

}  // namespace kvxtest
