#include "trace_echo.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

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

// Continuing the exception is what a debugger does once it has read the text; the write
// then goes nowhere else.
LONG CALLBACK EchoDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    // The length counts the terminator; it bounds the text but is not trusted to be exact.
    const size_t limit = static_cast<size_t>(record->ExceptionInformation[0]);
    if (text) {
        EnterCriticalSection(&g_lock);
        g_pending->append(text, strnlen(text, limit));
        EchoCompleteLines();
        LeaveCriticalSection(&g_lock);
    }
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void StartTraceEcho() {
    if (g_pending) return;
    InitializeCriticalSection(&g_lock);
    // Never freed: the module's unload line can come during process exit.
    g_pending = new std::string();
    AddVectoredExceptionHandler(1, EchoDebugString);
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
