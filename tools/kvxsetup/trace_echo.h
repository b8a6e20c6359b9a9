// The module's trace, shown by the host as it is written: the host listens on the system's
// debug-output channel the way a debug viewer does, and keeps only its own process's lines.
#pragma once

enum class TraceDisplay {
    kListening,
    kOtherViewer,  // Another viewer owns the channel; the trace goes there instead.
    kUnavailable,  // The channel could not be set up.
};

// Starts listening; every complete line of this process's debug output is then printed to
// stderr as it arrives. Start it before the module is loaded, so that its load line shows,
// and from the thread that will call the module: the listener's own thread must not come
// or go while the module is loaded (the module writes a line for each thread).
TraceDisplay StartTraceEcho();

// Waits (at most about two seconds) until the last write has been printed, then ends a
// line that was started but not ended, so that nothing runs into the host's own output.
void FlushTraceEcho();
