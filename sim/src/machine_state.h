// The one simulated machine behind the Win32 functions and the test controls, with the
// helpers they share. Everything here is used with the machine's lock held.
#pragma once

#include <kvxsim/machine.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kvxsim::detail {

// ---- Text ------------------------------------------------------------------------------

std::string Upper(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
bool LessNoCase(std::string_view a, std::string_view b);
// Windows' `*` and `?` over one name, letter case ignored.
bool WildcardMatch(std::string_view pattern, std::string_view name);
// "dir" + "name" with exactly one backslash between them.
std::string JoinPath(std::string_view directory, std::string_view name);
std::string_view TrimTrailingBackslashes(std::string_view path);
// Splits "C:\\dir\\name" into "C:\\dir" and "name"; no backslash gives an empty directory.
std::pair<std::string, std::string> SplitPath(std::string_view path);
std::string Str(const char* text);  // NULL as ""
// Copies `text` into a fixed field, cut to leave room for the terminator.
void CopyField(char* field, size_t size, std::string_view text);

// ---- The machine -----------------------------------------------------------------------

// One open of a file: what it may do and what it lets later opens do.
struct FileOpen {
    uintptr_t handle;  // 0: held by another process
    DWORD access;
    DWORD shareMode;
};

struct FileRecord {
    std::string path;  // as the test or the platform created it
    std::string shortName;
    std::string contents;
    std::vector<FileOpen> opens;
};

struct DeviceRecord {
    Device device;
    std::optional<std::string> rawHardwareIds;
    std::optional<DWORD> reportedHardwareIdSize;
    std::optional<std::string> rawService;
};

struct KeyRecord {
    std::string path;
    std::map<std::string, std::pair<std::string, RegistryValue>> values;  // by Upper(name)
};

enum class HandleKind { kFile, kFind, kScm, kService, kKey, kDeviceList };

struct HandleRecord {
    explicit HandleRecord(HandleKind k) : kind(k) {}
    HandleKind kind;
    std::string target;  // Upper() path of the file or key; the service name as opened
    DWORD access = 0;
    size_t position = 0;                  // file
    std::vector<WIN32_FIND_DATAA> found;  // find
    size_t nextFound = 0;                 // find
    std::vector<size_t> members;          // device list: indices into Machine::devices
    std::vector<bool> isMember;           // device list: by index into Machine::devices
    std::map<size_t, std::vector<Driver>> driverLists;  // device list, by device index
};

struct PendingFailure {
    std::string function;
    int skip;   // calls to let through first
    int times;  // calls to fail then; 0 = all
    DWORD error;
};

struct Machine {
    std::string windowsDirectory;
    std::string systemDirectory;
    std::map<std::string, FileRecord> files;  // by Upper(path)
    std::set<std::string> directories;        // Upper(path), no trailing backslash
    std::vector<DeviceRecord> devices;        // devnode = index + 2; the root is 1
    std::map<std::string, Service> services;  // by Upper(name)
    std::map<std::string, KeyRecord> keys;    // by Upper(path)
    std::map<uintptr_t, HandleRecord> handles;
    std::vector<Call> journal;
    std::vector<std::string> debugOutput;
    std::vector<PendingFailure> failures;
    std::set<void*> localBlocks;
    int badLocalFrees = 0;
    int openDriverLists = 0;
    int growingQueries = 0;
    DWORD growth = 0;
    CONFIGRET locateRootResult = CR_SUCCESS;
};

std::mutex& MachineLock();
Machine& TheMachine();
void ResetMachine(Machine& machine);
void SetThreadLastError(DWORD error);

// Journals the call and answers whether a pending failure makes it fail now.
std::optional<DWORD> Enter(std::string_view function, std::vector<std::string> args);
BOOL FailWith(DWORD error);  // sets the last error, returns FALSE

// Handles: never reused, so a stale handle stays invalid.
uintptr_t NewHandle(HandleRecord record);
HandleRecord* FindHandle(const void* handle, HandleKind kind);
template <typename H>
H ToHandle(uintptr_t value) {
    return reinterpret_cast<H>(value);
}

// Files and directories.
bool DirectoryExists(std::string_view path);
void CreateDirectories(std::string_view path);
// By long path, or by the short name of the last component.
FileRecord* LookupFile(std::string_view path);
// Whether a new open with `access` and `shareMode` agrees with every open of the file.
bool SharingAllows(const FileRecord& file, DWORD access, DWORD shareMode);
void PutFile(std::string_view path, std::string contents, std::string shortName = {});
// Copies an INF into the INF store as SetupCopyOEMInfA does: reuses an identical staged
// oemN.inf, else takes the first free oemN.inf and writes its .pnf. Returns the full path.
std::string StageInf(const FileRecord& source);

// Registry.
void CreateKey(std::string_view path);
void DeleteKeyTree(std::string_view path);
bool HasSubkeys(std::string_view path);

// Services: removes one that is marked, stopped and no longer open.
void ReapService(const std::string& key);

// INF reading: just enough of an INF to install its driver.
struct InfSummary {
    std::string provider;
    std::string service;        // first AddService name
    std::string serviceBinary;  // ServiceBinary of that service's install section
    std::string description;    // model line naming the hardware ID
    std::string section;
};
InfSummary ReadInf(std::string_view text, std::string_view hardwareId);

}  // namespace kvxsim::detail
