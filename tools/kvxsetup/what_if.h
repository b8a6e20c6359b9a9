// The what-if preview: the module runs against the real machine with every change held
// back. Its calls that would change the machine are replaced in its own import table by
// ones that record the change and answer as the system would; every read stays real.
#pragma once

#include <windows.h>

#include <string>

// Replaces the module's imports that change the machine. Refuses (with the reason in
// `problem`, the module's imports left as they were) when the module imports a function
// that is neither one of those nor known to only read: its change could not be held back.
// Returns 0, ERROR_NOT_SUPPORTED for such a refusal, or the error of the patching.
DWORD HoldBackChanges(HMODULE module, std::string* problem);
