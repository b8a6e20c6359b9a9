#include "harness/trace_capture.h"

#include <windows.h>

#include <cstring>

namespace kvxtest {
namespace {

CRITICAL_SECTION g_lock;
// Never destroyed: the module's unload line may arrive after static destructors ran.
std::vector<std::string>* g_writes = nullptr;
void (*g_echo)(const std::string&) = nullptr;
PVOID g_handler = nullptr;

// OutputDebugStringA raises this exception; continuing it is what a debugger does after
// reading the text, and it keeps the write from going anywhere else.
LONG CALLBACK RecordDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    // The first parameter counts the terminator; trust it only as an upper bound.
    const size_t limit = static_cast<size_t>(record->ExceptionInformation[0]);
    std::string write = text ? std::string(text, strnlen(text, limit)) : std::string();
    EnterCriticalSection(&g_lock);
    g_writes->push_back(write);
    void (*echo)(const std::string&) = g_echo;
    LeaveCriticalSection(&g_lock);
    if (echo) echo(write);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void InstallTraceCapture() {
    if (g_handler) return;
    InitializeCriticalSection(&g_lock);
    g_writes = new std::vector<std::string>();
    g_handler = AddVectoredExceptionHandler(1, RecordDebugString);
}

void SetTraceEcho(void (*echo)(const std::string& text)) {
    EnterCriticalSection(&g_lock);
    g_echo = echo;
    LeaveCriticalSection(&g_lock);
}

std::vector<std::string> TakeTrace() {
    std::vector<std::string> taken;
    EnterCriticalSection(&g_lock);
    taken.swap(*g_writes);
    LeaveCriticalSection(&g_lock);
    return taken;
}

std::vector<std::string> TraceLines(const std::vector<std::string>& writes) {
    std::vector<std::string> lines;
    std::string current;
    for (const std::string& write : writes) {
        for (char c : write) {
            current += c;
            if (c == '\n') {
                lines.push_back(current);
                current.clear();
            }
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

}  // namespace kvxtest
