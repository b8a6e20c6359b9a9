#include "run_log.h"

#include <cstdio>

#include "win32_common/owned_file.h"

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;

// The lock's byte sits at 2^62, beyond any log's end.
constexpr DWORD kLockOffsetHigh = 0x40000000;

}  // namespace

// Append-only access makes the system put every write at the end of the file as it is
// then, so lines of runs writing at once follow each other instead of overwriting. Read
// access is what the lock around each write asks for.
// A link planted at the path is refused rather than followed: the host often runs with
// more rights than whoever could prepare the path.
DWORD OpenRunLog(const std::string& path, std::string* refusal) {
    DWORD error = ERROR_SUCCESS;
    g_log = OpenOwnFile(path, FileStart::kAppend, GENERIC_READ | FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &error, refusal);
    return error;
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
    // Not every system finds the end and writes there in one step (Wine does not: three
    // runs writing 2,000 lines each at once lost up to a quarter of them). A lock on a byte
    // far past any end, which no reader ever touches, keeps the writes one after another. A
    // file that cannot be locked still gets the line.
    OVERLAPPED lock_place = {};
    lock_place.OffsetHigh = kLockOffsetHigh;
    const bool locked = LockFileEx(g_log, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock_place);
    DWORD written = 0;
    WriteFile(g_log, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
    if (locked) UnlockFileEx(g_log, 0, 1, 0, &lock_place);
}

void PrintAndLog(FILE* stream, const std::string& line) {
    fprintf(stream, "%s\n", line.c_str());
    fflush(stream);
    LogLine(GetCurrentProcessId(), line);
}
