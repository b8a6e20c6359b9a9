// The replacements each mode puts into the module's import table.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

#include "win32_common/import_table.h"

// What the module imports that only reads the machine, or only formats and allocates: left
// as it is unless a mode replaces it to answer as the machine would after the changes.
std::vector<std::string_view> ReadOnlyImports();

std::vector<ImportReplacement> PreviewReplacements();
std::vector<ImportReplacement> PassThroughReplacements(bool finish_at_restart);

// Whether an INF names a driver for the hardware ID in one of its models sections; the
// error the system gives when the file does not open as an INF.
bool InfListsHardwareId(const char* inf, const char* hardware_id, DWORD* open_error);

// Whether a present device has the hardware ID among its hardware or compatible IDs, as
// Windows matches a driver update; a device removed earlier in a preview counts as gone.
// In a real run the machine's own answer holds.
bool SomeDeviceHasId(const char* hardware_id);

// The present devices are read again at the next match, after a removal or re-enumeration;
// everything read is forgotten when a run starts over.
void ForgetPresentDevices();
void ForgetDriverMatches();

template <typename Function>
FARPROC Address(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}
