// The module's debugger output, caught inside the process that loaded it: no debugger or
// debug viewer is needed to see the trace.
#pragma once

#include <string_view>

namespace kvxwin {

// Hands every OutputDebugStringA write of this process to `on_write` as it happens, on the
// writing thread; the text is empty when a write carries none. Call it once per process,
// before the module is loaded, so that its entry line is caught as well.
void CatchDebugStrings(void (*on_write)(std::string_view text));

}  // namespace kvxwin
