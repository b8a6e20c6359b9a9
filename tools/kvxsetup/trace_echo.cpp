#include "trace_echo.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The debug-output channel: a 4096-byte shared buffer (writer's process ID, then the text),
// and two auto-reset events that pass it back and forth between writers and the viewer.
constexpr DWORD kBufferSize = 4096;
constexpr char kBufferName[] = "DBWIN_BUFFER";
constexpr char kBufferReadyName[] = "DBWIN_BUFFER_READY";
constexpr char kDataReadyName[] = "DBWIN_DATA_READY";
constexpr DWORD kFlushTimeoutMs = 2000;
constexpr DWORD kStartTimeoutMs = 5000;

struct Channel {
    HANDLE mapping = nullptr;
    const char* view = nullptr;
    HANDLE buffer_ready = nullptr;
    HANDLE data_ready = nullptr;
};

// A line a process has started and not yet ended: the module writes some lines in pieces
// (a name, then "\n"), and writers of several processes take turns on the channel.
struct PendingLine {
    DWORD process_id;
    std::string text;
};

// A writer that never ends its line still gets it shown, in parts of this size.
constexpr size_t kLongestLine = 16 * 1024;

// Set up once, then kept until the process ends: a writer may still come during exit.
Channel g_channel;
CRITICAL_SECTION g_lock;
TraceWriters g_writers;
TraceLineSink g_sink;
std::vector<PendingLine>* g_pending = nullptr;

void HandOnCompleteLines(PendingLine* pending) {
    size_t end;
    while ((end = pending->text.find('\n')) != std::string::npos) {
        g_sink(pending->process_id, std::string_view(pending->text).substr(0, end + 1));
        pending->text.erase(0, end + 1);
    }
    if (pending->text.size() >= kLongestLine) {
        pending->text.push_back('\n');
        HandOnCompleteLines(pending);
    }
}

PendingLine* PendingOf(DWORD process_id) {
    for (PendingLine& pending : *g_pending) {
        if (pending.process_id == process_id) return &pending;
    }
    g_pending->push_back({process_id, {}});
    return &g_pending->back();
}

DWORD WINAPI Listen(LPVOID started) {
    const DWORD own_process = GetCurrentProcessId();
    SetEvent(static_cast<HANDLE>(started));
    for (;;) {
        if (WaitForSingleObject(g_channel.data_ready, INFINITE) != WAIT_OBJECT_0) return 1;
        DWORD writer;
        memcpy(&writer, g_channel.view, sizeof writer);
        if (g_writers != TraceWriters::kEveryProcess && writer != own_process) {
            SetEvent(g_channel.buffer_ready);
            continue;
        }
        const char* text = g_channel.view + sizeof writer;
        EnterCriticalSection(&g_lock);
        PendingLine* pending = PendingOf(writer);
        pending->text.append(text, strnlen(text, kBufferSize - sizeof writer));
        // The writer goes on once its text is copied, while the line is shown: a flush,
        // which waits for the buffer and then for the lock, still comes after it.
        SetEvent(g_channel.buffer_ready);
        HandOnCompleteLines(pending);
        // Only lines still open are kept: a long watch sees process after process.
        if (pending->text.empty()) {
            std::erase_if(*g_pending, [](const PendingLine& line) { return line.text.empty(); });
        }
        LeaveCriticalSection(&g_lock);
    }
}

// The process's own writes taken in-process, as a debugger takes them, before they reach the
// channel: a write then costs no round trips to the listener, which made a traced install
// half as slow again as an untraced one. Only while the host owns the channel, so another
// viewer still gets every line when it does.
LONG CALLBACK TakeOwnWrite(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    // The length counts the terminator; the text is bounded by it, not trusted to end.
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    const size_t length = text ? strnlen(text, record->ExceptionInformation[0]) : 0;
    EnterCriticalSection(&g_lock);
    PendingLine* pending = PendingOf(GetCurrentProcessId());
    pending->text.append(text ? text : "", length);
    HandOnCompleteLines(pending);
    if (pending->text.empty()) {
        std::erase_if(*g_pending, [](const PendingLine& line) { return line.text.empty(); });
    }
    LeaveCriticalSection(&g_lock);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Windows 2000 has no vectored handlers: there the writes come through the channel.
void TakeOwnWritesInProcess() {
    using AddHandler = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const FARPROC address =
        kernel ? GetProcAddress(kernel, "AddVectoredExceptionHandler") : nullptr;
    if (address) reinterpret_cast<AddHandler>(reinterpret_cast<void*>(address))(1, TakeOwnWrite);
}

void CloseChannel(Channel* channel) {
    if (channel->view) UnmapViewOfFile(channel->view);
    if (channel->mapping) CloseHandle(channel->mapping);
    if (channel->buffer_ready) CloseHandle(channel->buffer_ready);
    if (channel->data_ready) CloseHandle(channel->data_ready);
    *channel = {};
}

TraceDisplay OpenChannel(Channel* channel) {
    channel->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          kBufferSize, kBufferName);
    const DWORD error = GetLastError();
    if (!channel->mapping) return TraceDisplay::kUnavailable;
    if (error == ERROR_ALREADY_EXISTS) {
        CloseChannel(channel);
        return TraceDisplay::kOtherViewer;
    }
    channel->view =
        static_cast<const char*>(MapViewOfFile(channel->mapping, FILE_MAP_READ, 0, 0, 0));
    channel->buffer_ready = CreateEventA(nullptr, FALSE, FALSE, kBufferReadyName);
    channel->data_ready = CreateEventA(nullptr, FALSE, FALSE, kDataReadyName);
    if (!channel->view || !channel->buffer_ready || !channel->data_ready) {
        CloseChannel(channel);
        return TraceDisplay::kUnavailable;
    }
    return TraceDisplay::kListening;
}

}  // namespace

TraceDisplay StartTraceEcho(TraceWriters writers, TraceLineSink sink) {
    if (g_pending) return TraceDisplay::kListening;
    const TraceDisplay opened = OpenChannel(&g_channel);
    if (opened != TraceDisplay::kListening) return opened;
    InitializeCriticalSection(&g_lock);
    g_writers = writers;
    g_sink = sink;
    g_pending = new std::vector<PendingLine>();
    // The thread must be running before the module is loaded. A thread that is still
    // starting when the module arrives greets it with a line of its own: a write that
    // waits for the buffer its own thread has yet to offer, while the host's next write
    // waits behind it, and both are dropped after the writers' timeout.
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = started ? CreateThread(nullptr, 0, Listen, started, 0, nullptr) : nullptr;
    const bool running = thread && WaitForSingleObject(started, kStartTimeoutMs) == WAIT_OBJECT_0;
    if (thread) CloseHandle(thread);
    // A thread that has not started yet still gets to set its event.
    if (started && (running || !thread)) CloseHandle(started);
    if (!running) {
        CloseChannel(&g_channel);
        return TraceDisplay::kUnavailable;
    }
    if (writers == TraceWriters::kThisProcess) TakeOwnWritesInProcess();
    // Writers take the buffer only once it is offered.
    SetEvent(g_channel.buffer_ready);
    return TraceDisplay::kListening;
}

void FlushTraceEcho() {
    if (!g_pending || !g_channel.buffer_ready) return;
    // The listener offers the buffer again only after it printed the last write.
    const bool taken =
        WaitForSingleObject(g_channel.buffer_ready, kFlushTimeoutMs) == WAIT_OBJECT_0;
    EnterCriticalSection(&g_lock);
    for (PendingLine& pending : *g_pending) {
        if (pending.text.empty()) continue;
        pending.text.push_back('\n');
        HandOnCompleteLines(&pending);
    }
    LeaveCriticalSection(&g_lock);
    if (taken) SetEvent(g_channel.buffer_ready);
}
