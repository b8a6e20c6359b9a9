#include "harness/trace_capture.h"

#include <windows.h>

#include "win32_common/debug_string_catcher.h"

namespace kvxtest {
namespace {

CRITICAL_SECTION g_lock;
// Never destroyed: the module's unload line may arrive after static destructors ran.
std::vector<std::string>* g_writes = nullptr;
void (*g_echo)(const std::string&) = nullptr;

void RecordWrite(std::string_view text) {
    const std::string write(text);
    EnterCriticalSection(&g_lock);
    g_writes->push_back(write);
    void (*echo)(const std::string&) = g_echo;
    LeaveCriticalSection(&g_lock);
    if (echo) echo(write);
}

}  // namespace

void InstallTraceCapture() {
    if (g_writes) return;
    InitializeCriticalSection(&g_lock);
    g_writes = new std::vector<std::string>();
    kvxwin::CatchDebugStrings(RecordWrite);
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
