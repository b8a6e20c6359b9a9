#include "debug_output_watch.h"

#include <cstdio>

#include "run_log.h"
#include "trace_echo.h"

namespace {

HANDLE g_stop = nullptr;

// Each line is flushed at once: the watch's output is often a pipe, read while it runs.
void PrintWithProcessId(DWORD process_id, std::string_view line) {
    printf("[%lu] %.*s", static_cast<unsigned long>(process_id), static_cast<int>(line.size()),
           line.data());
    fflush(stdout);
    LogLine(process_id, line);
}

// Ctrl+C and Ctrl+Break end the watch the same way its time does, so that a line still
// being written is shown.
BOOL WINAPI StopOnControl(DWORD control) {
    if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT) return FALSE;
    SetEvent(g_stop);
    return TRUE;
}

}  // namespace

int WatchDebugOutput(DWORD seconds) {
    switch (StartTraceEcho(TraceWriters::kEveryProcess, PrintWithProcessId)) {
        case TraceDisplay::kListening:
            break;
        case TraceDisplay::kOtherViewer:
            fprintf(stderr, "kvxsetup: another debug-output viewer is running; close it first\n");
            return ERROR_ALREADY_EXISTS;
        case TraceDisplay::kUnavailable:
            fprintf(stderr, "kvxsetup: cannot listen on the debug output\n");
            return 1;
    }
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_stop) SetConsoleCtrlHandler(StopOnControl, TRUE);
    fprintf(stderr, "kvxsetup: watching the debug output of every process; Ctrl+C ends\n");
    fflush(stderr);
    const DWORD wait = seconds ? seconds * 1000 : INFINITE;
    if (g_stop) {
        WaitForSingleObject(g_stop, wait);
    } else {
        Sleep(wait);
    }
    FlushTraceEcho();
    return 0;
}
