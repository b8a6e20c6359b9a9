#include "common/platform.h"

// Loading must never fail because of the module itself; the line only shows in a debug
// viewer when the loader attached or detached a process or thread.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    OutputDebugStringA("TLX W2K Install DLLMain called\n");
    return TRUE;
}
