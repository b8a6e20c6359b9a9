// A Win32 service that runs until it is told to stop: what the tests stop when they need a
// running service, such as the product's background service. Started with the argument
// "stays-stopping", it takes the stop control and then never stops: a service stuck in
// stop pending.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop = nullptr;
bool g_stays_stopping = false;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI HandleControl(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        if (!g_stays_stopping) SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_status_handle = RegisterServiceCtrlHandlerExA("", HandleControl, nullptr);
    if (!g_status_handle) return;
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
    g_stays_stopping = argc > 1 && lstrcmpA(argv[1], "stays-stopping") == 0;
    char name[] = "";
    const SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
