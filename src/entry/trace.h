// The module's only diagnostic channel: one line per event on the debugger output.
#pragma once

#include <stddef.h>

constexpr size_t kTraceBufferSize = 256;

// Formats into the caller's buffer ("%d", "%x" and "%s" only) and writes it with
// OutputDebugStringA. A longer expansion is cut to 255 characters that still end in a
// line feed. The compiler checks each call's arguments against its format, by the rules of
// the C runtime the module formats with.
void Trace(char (&buffer)[kTraceBufferSize], const char* format, ...)
    __attribute__((format(printf, 2, 3)));
