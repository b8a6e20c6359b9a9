// Which services depend on a service, read without changing anything.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Whether a service that depends on `name` runs and `counts` it (a preview leaves out one it
// stopped already). Windows NT refuses to stop a service while one runs; some service
// managers stop it all the same and list no dependents, so the services' own
// DependOnService values are read as well.
bool DependentRunning(const std::string& name,
                      const std::function<bool(const std::string&)>& counts);
