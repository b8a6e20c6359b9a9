// kernel32 and msvcrt on the stand-in machine: last error, debugger output, local heap,
// directory queries, files and wildcard search, and msvcrt's _vsnprintf.
#include "machine_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kvxsim;
using namespace kvxsim::detail;

namespace {

thread_local DWORD lastError = 0;

// Larger blocks fail as a 32-bit process's heap would, instead of aborting the sanitizers'
// allocator when a caller asks for a size read from garbage.
constexpr SIZE_T kLargestLocalBlock = 64u << 20;

std::lock_guard<std::mutex> Locked() {
    return std::lock_guard<std::mutex>(MachineLock());
}

UINT QueryDirectory(const char* function, const std::string& directory, LPSTR buffer, UINT size) {
    if (const auto error = Enter(function, {Hex(size)})) {
        SetThreadLastError(*error);
        return 0;
    }
    const UINT length = static_cast<UINT>(directory.size());
    if (!buffer || length >= size) return length + 1;
    memcpy(buffer, directory.c_str(), length + 1);
    return length;
}

bool IsDirectory(std::string_view path) {
    return !path.empty() && DirectoryExists(TrimTrailingBackslashes(path));
}

// The error for a path that names no file: whether its directory exists decides.
DWORD MissingFileError(std::string_view path) {
    const auto [directory, name] = SplitPath(path);
    return DirectoryExists(directory) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

void FillFindData(WIN32_FIND_DATAA* data, const WIN32_FIND_DATAA& found) {
    *data = found;
}

}  // namespace

namespace kvxsim::detail {

void SetThreadLastError(DWORD error) {
    lastError = error;
}

bool DirectoryExists(std::string_view path) {
    return TheMachine().directories.count(Upper(TrimTrailingBackslashes(path))) != 0;
}

void CreateDirectories(std::string_view path) {
    std::string_view rest = TrimTrailingBackslashes(path);
    while (!rest.empty()) {
        TheMachine().directories.insert(Upper(rest));
        const size_t slash = rest.rfind('\\');
        if (slash == std::string_view::npos) break;
        rest = TrimTrailingBackslashes(rest.substr(0, slash));
    }
}

bool SharingAllows(const FileRecord& file, DWORD access, DWORD shareMode) {
    // The specific file rights that sharing governs: FILE_READ_DATA and FILE_EXECUTE,
    // FILE_WRITE_DATA and FILE_APPEND_DATA. Attribute rights conflict with nothing.
    constexpr DWORD kReadRights = 0x0001 | 0x0020;
    constexpr DWORD kWriteRights = 0x0002 | 0x0004;
    // Which of read, write and delete an access mask asks for, as FILE_SHARE_* bits.
    const auto uses = [](DWORD mask) -> DWORD {
        if (mask & GENERIC_ALL) return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        DWORD used = 0;
        if (mask & (GENERIC_READ | GENERIC_EXECUTE | kReadRights)) used |= FILE_SHARE_READ;
        if (mask & (GENERIC_WRITE | kWriteRights)) used |= FILE_SHARE_WRITE;
        if (mask & DELETE) used |= FILE_SHARE_DELETE;
        return used;
    };
    const DWORD wanted = uses(access);
    for (const FileOpen& open : file.opens) {
        if ((wanted & ~open.shareMode) != 0 || (uses(open.access) & ~shareMode) != 0) return false;
    }
    return true;
}

FileRecord* LookupFile(std::string_view path) {
    auto& files = TheMachine().files;
    const auto it = files.find(Upper(path));
    if (it != files.end()) return &it->second;
    const auto [directory, name] = SplitPath(path);
    if (name.empty()) return nullptr;
    const std::string dir = Upper(directory);
    for (auto& [key, file] : files) {
        if (file.shortName.empty() || !EqualNoCase(file.shortName, name)) continue;
        if (Upper(SplitPath(file.path).first) == dir) return &file;
    }
    return nullptr;
}

void PutFile(std::string_view path, std::string contents, std::string shortName) {
    CreateDirectories(SplitPath(path).first);
    FileRecord& file = TheMachine().files[Upper(path)];
    file.path = std::string(path);
    file.contents = std::move(contents);
    file.shortName = std::move(shortName);
}

std::string StageInf(const FileRecord& source) {
    Machine& m = TheMachine();
    const std::string store = JoinPath(m.windowsDirectory, "inf");
    CreateDirectories(store);
    // An INF already in the store is its own staged copy.
    if (Upper(SplitPath(source.path).first) == Upper(store)) return source.path;
    for (const auto& [key, file] : m.files) {
        const auto [directory, name] = SplitPath(file.path);
        if (Upper(directory) == Upper(store) && WildcardMatch("oem*.inf", name) &&
            file.contents == source.contents) {
            return file.path;
        }
    }
    for (int n = 0;; ++n) {
        const std::string name = "oem" + std::to_string(n);
        const std::string path = JoinPath(store, name + ".inf");
        if (LookupFile(path)) continue;
        PutFile(path, source.contents);
        PutFile(JoinPath(store, name + ".pnf"), "PNF\x02\x01 precompiled " + name + ".inf");
        return path;
    }
}

}  // namespace kvxsim::detail

extern "C" {

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    {
        auto lock = Locked();
        Enter("OutputDebugStringA", {Str(lpOutputString)});
        TheMachine().debugOutput.push_back(lpOutputString ? lpOutputString : "(null)");
    }
    // Windows' own implementation leaves this behind when no debugger listens; code that
    // reads the last error after tracing reads this instead of its own error.
    lastError = ERROR_FILE_NOT_FOUND;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    auto lock = Locked();
    if (const auto error = Enter("LocalAlloc", {Hex(uFlags), Hex(static_cast<DWORD>(uBytes))})) {
        SetThreadLastError(*error);
        return nullptr;
    }
    if (uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) {
        // Moveable blocks are handles, not pointers; nothing here needs them.
        SetThreadLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Exactly the bytes asked for, so the sanitizers see a read one past the end.
    void* block = uBytes <= kLargestLocalBlock ? malloc(uBytes) : nullptr;
    if (!block) {
        SetThreadLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (uFlags & LMEM_ZEROINIT) memset(block, 0, uBytes);
    TheMachine().localBlocks.insert(block);
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    auto lock = Locked();
    if (const auto error = Enter("LocalFree", {})) {
        SetThreadLastError(*error);
        return hMem;
    }
    if (!hMem) return nullptr;
    Machine& m = TheMachine();
    if (!m.localBlocks.erase(hMem)) {
        ++m.badLocalFrees;
        SetThreadLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    free(hMem);
    return nullptr;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    auto lock = Locked();
    return QueryDirectory("GetWindowsDirectoryA", TheMachine().windowsDirectory, lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    auto lock = Locked();
    return QueryDirectory("GetSystemDirectoryA", TheMachine().systemDirectory, lpBuffer, uSize);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    auto lock = Locked();
    const std::string path = Str(lpFileName);
    if (const auto error = Enter("DeleteFileA", {path})) return FailWith(*error);
    if (path.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
    FileRecord* file = LookupFile(path);
    if (!file) return FailWith(IsDirectory(path) ? ERROR_ACCESS_DENIED : MissingFileError(path));
    // DeleteFileA opens the file for deletion and shares everything itself.
    if (!SharingAllows(*file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        return FailWith(ERROR_SHARING_VIOLATION);
    }
    TheMachine().files.erase(Upper(file->path));
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    auto lock = Locked();
    const std::string path = Str(lpFileName);
    if (const auto error =
            Enter("CreateFileA", {path, Hex(dwDesiredAccess), Hex(dwShareMode),
                                  Hex(dwCreationDisposition), Hex(dwFlagsAndAttributes)})) {
        SetThreadLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    // The machine's files are read, never written, through handles.
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetThreadLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    FileRecord* file = path.empty() ? nullptr : LookupFile(path);
    if (!file) {
        SetThreadLastError(path.empty()        ? ERROR_PATH_NOT_FOUND
                           : IsDirectory(path) ? ERROR_ACCESS_DENIED
                                               : MissingFileError(path));
        return INVALID_HANDLE_VALUE;
    }
    if (!SharingAllows(*file, dwDesiredAccess, dwShareMode)) {
        SetThreadLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    HandleRecord record{HandleKind::kFile};
    record.target = Upper(file->path);
    record.access = dwDesiredAccess;
    const uintptr_t handle = NewHandle(std::move(record));
    file->opens.push_back({handle, dwDesiredAccess, dwShareMode});
    SetThreadLastError(ERROR_SUCCESS);
    return ToHandle<HANDLE>(handle);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    auto lock = Locked();
    if (const auto error = Enter("ReadFile", {Hex(nNumberOfBytesToRead)})) {
        if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
        return FailWith(*error);
    }
    HandleRecord* handle = FindHandle(hFile, HandleKind::kFile);
    if (!handle) return FailWith(ERROR_INVALID_HANDLE);
    if (!lpNumberOfBytesRead && !lpOverlapped) return FailWith(ERROR_INVALID_PARAMETER);
    if (!lpBuffer && nNumberOfBytesToRead) return FailWith(ERROR_INVALID_USER_BUFFER);
    const std::string& contents = TheMachine().files.at(handle->target).contents;
    const size_t start = std::min(handle->position, contents.size());
    const size_t count = std::min<size_t>(nNumberOfBytesToRead, contents.size() - start);
    if (count) memcpy(lpBuffer, contents.data() + start, count);
    handle->position = start + count;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    auto lock = Locked();
    if (const auto error = Enter("CloseHandle", {})) return FailWith(*error);
    HandleRecord* handle = FindHandle(hObject, HandleKind::kFile);
    if (!handle) return FailWith(ERROR_INVALID_HANDLE);
    Machine& m = TheMachine();
    if (const auto file = m.files.find(handle->target); file != m.files.end()) {
        const uintptr_t closed = reinterpret_cast<uintptr_t>(hObject);
        std::erase_if(file->second.opens,
                      [closed](const FileOpen& open) { return open.handle == closed; });
    }
    m.handles.erase(reinterpret_cast<uintptr_t>(hObject));
    return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    auto lock = Locked();
    const std::string search = Str(lpFileName);
    if (const auto error = Enter("FindFirstFileA", {search})) {
        SetThreadLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    if (!lpFindFileData) {
        SetThreadLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto split = SplitPath(search);
    const std::string& directory = split.first;
    const std::string& pattern = split.second;
    if (directory.empty() || !DirectoryExists(directory)) {
        SetThreadLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const Machine& m = TheMachine();
    const std::string dir = Upper(TrimTrailingBackslashes(directory));
    std::vector<WIN32_FIND_DATAA> found;
    auto add = [&](std::string_view name, std::string_view shortName, const std::string* contents) {
        if (!WildcardMatch(pattern, name) &&
            (shortName.empty() || !WildcardMatch(pattern, shortName))) {
            return;
        }
        WIN32_FIND_DATAA data{};
        data.dwFileAttributes = contents ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_DIRECTORY;
        data.nFileSizeLow = contents ? static_cast<DWORD>(contents->size()) : 0;
        CopyField(data.cFileName, sizeof data.cFileName, name);
        CopyField(data.cAlternateFileName, sizeof data.cAlternateFileName, shortName);
        found.push_back(data);
    };
    for (const auto& [key, file] : m.files) {
        const auto [parent, name] = SplitPath(file.path);
        if (Upper(parent) == dir) add(name, file.shortName, &file.contents);
    }
    for (const std::string& sub : m.directories) {
        const auto [parent, name] = SplitPath(sub);
        if (parent == dir) add(name, {}, nullptr);
    }
    if (found.empty()) {
        SetThreadLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(found.begin(), found.end(), [](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
        return LessNoCase(a.cFileName, b.cFileName);
    });
    FillFindData(lpFindFileData, found.front());
    HandleRecord record{HandleKind::kFind};
    record.found = std::move(found);
    record.nextFound = 1;
    SetThreadLastError(ERROR_SUCCESS);
    return ToHandle<HANDLE>(NewHandle(std::move(record)));
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto lock = Locked();
    if (const auto error = Enter("FindNextFileA", {})) return FailWith(*error);
    HandleRecord* handle = FindHandle(hFindFile, HandleKind::kFind);
    if (!handle) return FailWith(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return FailWith(ERROR_INVALID_PARAMETER);
    if (handle->nextFound >= handle->found.size()) return FailWith(ERROR_NO_MORE_FILES);
    FillFindData(lpFindFileData, handle->found[handle->nextFound++]);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    auto lock = Locked();
    if (const auto error = Enter("FindClose", {})) return FailWith(*error);
    if (!FindHandle(hFindFile, HandleKind::kFind)) return FailWith(ERROR_INVALID_HANDLE);
    TheMachine().handles.erase(reinterpret_cast<uintptr_t>(hFindFile));
    return TRUE;
}

int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr) {
    va_list measure;
    va_copy(measure, argptr);
    const int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) return -1;
    if (static_cast<size_t>(length) < count) return vsnprintf(buffer, count, format, argptr);
    // Too long or exactly `count`: msvcrt fills the buffer and writes no terminator.
    std::vector<char> whole(static_cast<size_t>(length) + 1);
    vsnprintf(whole.data(), whole.size(), format, argptr);
    if (count) memcpy(buffer, whole.data(), count);
    return static_cast<size_t>(length) == count ? length : -1;
}

int _snprintf(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return result;
}

}  // extern "C"
