#include "setup_log.h"

#include <windows.h>

namespace {

std::string TwoDigits(WORD value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

// The time and process every line of the setup program's log begins with.
std::string LinePrefix() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return TwoDigits(now.wHour) + ":" + TwoDigits(now.wMinute) + ":" + TwoDigits(now.wSecond) +
           " [" + std::to_string(GetCurrentProcessId()) + "] ";
}

}  // namespace

void AppendToSetupLog(const char* log_path, const std::string& line) {
    if (!log_path || !*log_path) return;
    HANDLE file = CreateFileA(log_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = LinePrefix() + line + "\r\n";
    DWORD written = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) {
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    CloseHandle(file);
}
