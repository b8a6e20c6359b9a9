// A newdev.dll of no one's: planted beside a program that loads the module, it leaves a
// trace of having been loaded (C:\planted-newdev-loaded.txt, one line per process), which
// must never appear. It exports what the module imports, so that a load would succeed.
#include <windows.h>

namespace {

void NoteLoad() {
    char program[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program - 2);
    program[length] = '\r';
    program[length + 1] = '\n';
    HANDLE note = CreateFileA("C:\\planted-newdev-loaded.txt", FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (note == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(note, program, length + 2, &written, nullptr);
    CloseHandle(note);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) NoteLoad();
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR, LPCSTR, DWORD, PBOOL) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
