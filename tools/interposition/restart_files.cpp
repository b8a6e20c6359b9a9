// Files in use at the end of a real run: the module could not delete them, or the install
// could not replace them. Windows's own file queue writes the new file beside one in use
// and renames it over the old one at the restart; this does the same for the files the
// install puts on the machine, and deletes at the restart only what the install does not
// put back.
#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "common/case_insensitive.h"
#include "common/path_join.h"
#include "interposition/case_order.h"
#include "interposition/change_record.h"
#include "interposition/inf_file_copies.h"
#include "interposition/machine_changes.h"
#include "interposition/restart_notes.h"

namespace {

// Each path with the error its deletion met.
std::map<std::string, DWORD, LessIgnoreCase> g_held_back;
std::set<std::string, LessIgnoreCase> g_put_back;

bool InUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

std::string PrecompiledPath(const std::string& inf) {
    char pnf[MAX_PATH * 2] = {};
    if (inf.size() >= sizeof pnf) return "";
    memcpy(pnf, inf.c_str(), inf.size() + 1);
    return ToPrecompiledInfPath(pnf) ? std::string(pnf) : std::string();
}

// Whether two open files hold the same bytes.
bool SameBytes(HANDLE first, HANDLE second) {
    char a[4096];
    char b[4096];
    for (;;) {
        DWORD read_a = 0;
        DWORD read_b = 0;
        if (!ReadFile(first, a, sizeof a, &read_a, nullptr) ||
            !ReadFile(second, b, sizeof b, &read_b, nullptr)) {
            return false;
        }
        if (read_a != read_b || memcmp(a, b, read_a) != 0) return false;
        if (read_a == 0) return true;
    }
}

HANDLE OpenToRead(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The target is not the package's file, and something keeps it from being replaced now. A
// target that cannot even be read is in use: the package's file goes in at the restart,
// whichever it holds.
bool ReplacementWaitsForRestart(const FileCopy& copy) {
    HANDLE target = OpenToRead(copy.target.c_str());
    if (target == INVALID_HANDLE_VALUE) return InUse(GetLastError());
    HANDLE source = OpenToRead(copy.source.c_str());
    const bool same = source != INVALID_HANDLE_VALUE && SameBytes(source, target);
    if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
    CloseHandle(target);
    if (same) return false;
    HANDLE writable = CreateFileA(copy.target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writable != INVALID_HANDLE_VALUE) {
        CloseHandle(writable);
        return false;
    }
    return InUse(GetLastError());
}

// Whether a rename onto the path already waits for the restart: the system's own file queue
// schedules one where it can, and a second would only repeat it.
bool RenameScheduledOnto(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    std::string operations(64 * 1024, '\0');
    DWORD size = static_cast<DWORD>(operations.size());
    DWORD type = 0;
    const LONG read = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                                       reinterpret_cast<BYTE*>(operations.data()), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_MULTI_SZ) return false;
    // Pairs of source and target, each terminated; the size, not the terminators, bounds
    // the walk. A target is "" for a deletion, and begins with "!" to replace.
    operations.resize(size < operations.size() ? size : operations.size());
    size_t at = 0;
    bool is_target = false;
    while (at < operations.size()) {
        const size_t end = operations.find('\0', at);
        std::string name = operations.substr(at, end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? operations.size() : end + 1;
        if (is_target) {
            if (!name.empty() && name[0] == '!') name.erase(0, 1);
            if (name.compare(0, 4, "\\??\\") == 0) name.erase(0, 4);
            if (!name.empty() && EqualsIgnoreCase(name.c_str(), path.c_str())) return true;
        }
        is_target = !is_target;
    }
    return false;
}

// The package's file is written beside the target under a name of its own and renamed over
// the target at the restart.
DWORD ScheduleReplacement(const FileCopy& copy) {
    const size_t slash = copy.target.find_last_of('\\');
    if (slash == std::string::npos) return ERROR_INVALID_NAME;
    const std::string folder = copy.target.substr(0, slash);
    char beside[MAX_PATH] = {};
    if (!GetTempFileNameA(folder.c_str(), "kvx", 0, beside)) return GetLastError();
    if (!CopyFileA(copy.source.c_str(), beside, FALSE) ||
        !MoveFileExA(beside, copy.target.c_str(),
                     MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileA(beside);
        return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
    }
    return ERROR_SUCCESS;
}

}  // namespace

void HoldBackDeletion(const std::string& path, DWORD error) {
    g_held_back.emplace(path, error);
    // The module deletes a precompiled INF only once its INF is gone: they go together.
    const std::string pnf = PrecompiledPath(path);
    if (!pnf.empty() && GetFileAttributesA(pnf.c_str()) != INVALID_FILE_ATTRIBUTES) {
        g_held_back.emplace(pnf, error);
    }
}

bool DeletionHeldBack(const std::string& path) {
    return g_held_back.contains(path);
}

void NotePutBack(const std::string& path) {
    g_put_back.insert(path);
    const std::string pnf = PrecompiledPath(path);
    if (!pnf.empty()) g_put_back.insert(pnf);
}

void ScheduleReplacementsFrom(const char* inf, const char* hardware_id) {
    for (const FileCopy& copy : InfFileCopies(inf, hardware_id)) {
        NotePutBack(copy.target);
        const std::string shown = ShownPath(copy.target.c_str());
        if (WasRecorded(Change::kFileReplaced, shown) || !ReplacementWaitsForRestart(copy) ||
            RenameScheduledOnto(copy.target)) {
            continue;
        }
        RecordChange(Change::kFileReplaced, shown, ScheduleReplacement(copy));
    }
}

void ScheduleHeldBackDeletions() {
    for (const auto& [path, error] : g_held_back) {
        // Put back by the install: replaced at the restart if it differs, kept if not.
        if (g_put_back.contains(path)) continue;
        const std::string shown = ShownPath(path.c_str());
        const BOOL scheduled = MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        const DWORD schedule_error = scheduled ? ERROR_SUCCESS : GetLastError();
        if (!scheduled) RecordChange(Change::kFileDeleted, shown, error);
        RecordChange(Change::kFileScheduled, shown, schedule_error);
    }
    g_held_back.clear();
}

void ForgetRestartFiles() {
    g_held_back.clear();
    g_put_back.clear();
}
