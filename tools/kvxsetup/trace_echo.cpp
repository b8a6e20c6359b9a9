#include "trace_echo.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "win32_common/debug_string_catcher.h"

namespace {

CRITICAL_SECTION g_lock;
// The module writes some lines in pieces (a name, then "\n"); they are joined here so that
// every printed line carries the prefix once.
std::string* g_pending = nullptr;

void PrintLine(const std::string& line) {
    fputs("trace| ", stdout);
    fputs(line.c_str(), stdout);
    fflush(stdout);
}

void EchoCompleteLines() {
    size_t end;
    while ((end = g_pending->find('\n')) != std::string::npos) {
        PrintLine(g_pending->substr(0, end + 1));
        g_pending->erase(0, end + 1);
    }
}

void EchoWrite(std::string_view text) {
    EnterCriticalSection(&g_lock);
    g_pending->append(text);
    EchoCompleteLines();
    LeaveCriticalSection(&g_lock);
}

}  // namespace

void StartTraceEcho() {
    if (g_pending) return;
    InitializeCriticalSection(&g_lock);
    // Never freed: the module's unload line can come during process exit.
    g_pending = new std::string();
    kvxwin::CatchDebugStrings(EchoWrite);
}

void FlushTraceEcho() {
    if (!g_pending) return;
    EnterCriticalSection(&g_lock);
    if (!g_pending->empty()) {
        PrintLine(*g_pending + "\n");
        g_pending->clear();
    }
    LeaveCriticalSection(&g_lock);
}
