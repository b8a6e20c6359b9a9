#include "common/platform.h"

// The loader's entry point, in place of the C runtime's start-up code: the module has no
// static constructors, thread-local data or exit handlers for that code to run, and
// leaving it out keeps the image small and its imports to what the exports call.
// msvcrt's functions need no start-up in a DLL that merely calls them.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllMain(instance, reason, reserved);
}
