#include "run_log.h"

#include <cstdio>

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;

}  // namespace

// Append-only access makes the system put every write at the end of the file as it is
// then, so lines of runs writing at once follow each other instead of overwriting.
DWORD OpenRunLog(const std::string& path) {
    g_log = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return g_log == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

// Each line goes out in one write: two writes could have another run's line between them.
void LogLine(DWORD process_id, std::string_view line) {
    if (g_log == INVALID_HANDLE_VALUE) return;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear,
             now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
             static_cast<unsigned long>(process_id));
    std::string entry = stamp;
    entry.append(line);
    entry += "\r\n";
    DWORD written = 0;
    WriteFile(g_log, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
}

void PrintAndLog(FILE* stream, const std::string& line) {
    fprintf(stream, "%s\n", line.c_str());
    fflush(stream);
    LogLine(GetCurrentProcessId(), line);
}
