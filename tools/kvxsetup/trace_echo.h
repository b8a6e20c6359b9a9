// The module's trace, shown as it is written: the host listens on the system's debug-output
// channel the way a debug viewer does, and hands on whole lines, its own process's or every
// process's.
#pragma once

#include <windows.h>

#include <string_view>

enum class TraceDisplay {
    kListening,
    kOtherViewer,  // Another viewer owns the channel; the trace goes there instead.
    kUnavailable,  // The channel could not be set up.
};

enum class TraceWriters {
    kThisProcess,   // The host's own module: other programs' lines are not its business.
    kEveryProcess,  // A viewer beside an installer.
};

// Gets one whole line at a time, ending in "\n", with the ID of the process that wrote it;
// called on the listener's thread, or on the thread that flushes.
using TraceLineSink = void (*)(DWORD process_id, std::string_view line);

// Starts listening; every complete line of the chosen writers then goes to `sink` as it
// arrives, lines a process writes in pieces joined. Start it before the module is loaded,
// so that its load line shows, and from the thread that will call the module: the
// listener's own thread must not come or go while the module is loaded (the module writes
// a line for each thread).
TraceDisplay StartTraceEcho(TraceWriters writers, TraceLineSink sink);

// Waits (at most about two seconds) until the last write has been handed on, then ends the
// lines that were started but not ended, so that nothing runs into the host's own output.
void FlushTraceEcho();
