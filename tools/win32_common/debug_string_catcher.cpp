#include "win32_common/debug_string_catcher.h"

#include <windows.h>

#include <cstring>

namespace kvxwin {
namespace {

void (*g_on_write)(std::string_view) = nullptr;

// OutputDebugStringA raises this exception; continuing it is what a debugger does after
// reading the text, and it keeps the write from going anywhere else.
LONG CALLBACK CatchDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    // The first parameter counts the terminator; trust it only as an upper bound.
    const size_t limit = static_cast<size_t>(record->ExceptionInformation[0]);
    g_on_write(text ? std::string_view(text, strnlen(text, limit)) : std::string_view());
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void CatchDebugStrings(void (*on_write)(std::string_view text)) {
    g_on_write = on_write;
    AddVectoredExceptionHandler(1, CatchDebugString);
}

}  // namespace kvxwin
