#include "entry/trace.h"

#include <stdarg.h>

#include "common/platform.h"

void Trace(char (&buffer)[kTraceBufferSize], const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    // msvcrt's _vsnprintf neither terminates a cut message nor reports its full length.
    const int written = _vsnprintf(buffer, kTraceBufferSize, format, arguments);
    va_end(arguments);
    if (written < 0 || static_cast<size_t>(written) >= kTraceBufferSize) {
        buffer[kTraceBufferSize - 2] = '\n';
        buffer[kTraceBufferSize - 1] = '\0';
    }
    OutputDebugStringA(buffer);
}
