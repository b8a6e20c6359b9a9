// The module's debugger output, seen from inside the test process.
#pragma once

#include <string>
#include <vector>

namespace kvxtest {

// Installs the handler that records every OutputDebugStringA write of the process. Call it
// before the module is loaded so that its entry lines are seen too. Safe to call again.
void InstallTraceCapture();

// Also hands every write, as it happens, to `echo` (nullptr to stop).
void SetTraceEcho(void (*echo)(const std::string& text));

// Every write since the last call (or since capture started), one string per write.
std::vector<std::string> TakeTrace();

// Joins writes into the lines a debug viewer shows; text after the last "\n" is a line too.
std::vector<std::string> TraceLines(const std::vector<std::string>& writes);

}  // namespace kvxtest
