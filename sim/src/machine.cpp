// The machine itself: its lock, its reset, the journal and failure plan, and the test
// controls that build and inspect it.
#include "machine_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kvxsim {
namespace detail {

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

static char UpperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Without building upper-case copies: list building compares every pair of instance IDs.
bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    }
    return true;
}

bool LessNoCase(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = static_cast<unsigned char>(UpperChar(a[i]));
        const unsigned char y = static_cast<unsigned char>(UpperChar(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // "*.*" means every name, dotted or not, on Windows.
    if (pattern == "*.*") return true;
    const std::string p = Upper(pattern);
    const std::string n = Upper(name);
    size_t pi = 0, ni = 0, starP = std::string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

std::string_view TrimTrailingBackslashes(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return path;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string result(TrimTrailingBackslashes(directory));
    result += '\\';
    result += name;
    return result;
}

std::pair<std::string, std::string> SplitPath(std::string_view path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string_view::npos) return {std::string(), std::string(path)};
    return {std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

std::string Str(const char* text) {
    return text ? std::string(text) : std::string();
}

void CopyField(char* field, size_t size, std::string_view text) {
    const size_t n = std::min(text.size(), size - 1);
    memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::mutex& MachineLock() {
    static std::mutex lock;
    return lock;
}

Machine& TheMachine() {
    // Only ever reached with the lock held, so a plain flag is enough.
    static Machine machine;
    static bool ready = false;
    if (!ready) {
        ready = true;
        ResetMachine(machine);
    }
    return machine;
}

void ResetMachine(Machine& machine) {
    // Blocks the module never gave back are released here, so one leaking test does not
    // make the next one leak too; the test that leaked saw them in OpenResources().
    for (void* block : machine.localBlocks) free(block);
    machine = Machine{};
    machine.windowsDirectory = "C:\\WINNT";
    machine.systemDirectory = "C:\\WINNT\\system32";
    CreateDirectories("C:\\WINNT\\inf");
    CreateDirectories("C:\\WINNT\\system32\\drivers");
    CreateKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System");
}

std::optional<DWORD> Enter(std::string_view function, std::vector<std::string> args) {
    Machine& m = TheMachine();
    m.journal.push_back(Call{std::string(function), std::move(args)});
    for (auto it = m.failures.begin(); it != m.failures.end(); ++it) {
        if (it->function != function) continue;
        if (it->skip > 0) {
            --it->skip;
            return std::nullopt;
        }
        const DWORD error = it->error;
        if (it->times > 0 && --it->times == 0) m.failures.erase(it);
        return error;
    }
    return std::nullopt;
}

BOOL FailWith(DWORD error) {
    SetThreadLastError(error);
    return FALSE;
}

uintptr_t NewHandle(HandleRecord record) {
    // Distinct across resets, so a handle kept from an earlier machine is invalid.
    static uintptr_t next = 0x1000;
    const uintptr_t value = next;
    next += 4;
    TheMachine().handles.emplace(value, std::move(record));
    return value;
}

HandleRecord* FindHandle(const void* handle, HandleKind kind) {
    auto& handles = TheMachine().handles;
    const auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

}  // namespace detail

using namespace detail;

namespace {

std::unique_lock<std::mutex> Locked() {
    return std::unique_lock<std::mutex>(MachineLock());
}

DeviceRecord* LookupDevice(Machine& m, std::string_view instanceId) {
    for (DeviceRecord& record : m.devices) {
        if (EqualNoCase(record.device.instanceId, instanceId)) return &record;
    }
    return nullptr;
}

}  // namespace

void Reset() {
    auto lock = Locked();
    ResetMachine(TheMachine());
    SetThreadLastError(0);
}

std::vector<std::string> DebugOutput() {
    auto lock = Locked();
    return TheMachine().debugOutput;
}

std::string DebugText() {
    auto lock = Locked();
    std::string text;
    for (const std::string& line : TheMachine().debugOutput) text += line;
    return text;
}

void ClearDebugOutput() {
    auto lock = Locked();
    TheMachine().debugOutput.clear();
}

void FailCall(std::string_view function, DWORD error, int nth, int times) {
    auto lock = Locked();
    TheMachine().failures.push_back(
        PendingFailure{std::string(function), std::max(nth, 1) - 1, std::max(times, 0), error});
}

void ClearFailures() {
    auto lock = Locked();
    TheMachine().failures.clear();
}

std::string Call::Text() const {
    std::string text = function + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) text += ", ";
        text += args[i];
    }
    return text + ")";
}

std::vector<Call> Journal() {
    auto lock = Locked();
    return TheMachine().journal;
}

std::string JournalText() {
    auto lock = Locked();
    std::string text;
    for (const Call& call : TheMachine().journal) text += call.Text() + "\n";
    return text;
}

void ClearJournal() {
    auto lock = Locked();
    TheMachine().journal.clear();
}

std::vector<Call> Calls(std::string_view function) {
    auto lock = Locked();
    std::vector<Call> result;
    for (const Call& call : TheMachine().journal) {
        if (call.function == function) result.push_back(call);
    }
    return result;
}

namespace {

bool CallMatches(const Call& call, std::string_view function, std::string_view arg) {
    if (call.function != function) return false;
    if (arg.empty()) return true;
    return std::any_of(call.args.begin(), call.args.end(),
                       [&](const std::string& a) { return EqualNoCase(a, arg); });
}

}  // namespace

int FindCall(std::string_view function, std::string_view arg, int from) {
    auto lock = Locked();
    const auto& journal = TheMachine().journal;
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < journal.size(); ++i) {
        if (CallMatches(journal[i], function, arg)) return static_cast<int>(i);
    }
    return -1;
}

int CountCalls(std::string_view function, std::string_view arg) {
    auto lock = Locked();
    const auto& journal = TheMachine().journal;
    return static_cast<int>(std::count_if(journal.begin(), journal.end(), [&](const Call& c) {
        return CallMatches(c, function, arg);
    }));
}

std::string Hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

int OpenCounts::Total() const {
    return scmHandles + serviceHandles + registryKeys + fileHandles + findHandles + deviceLists +
           driverLists + localBlocks;
}

OpenCounts OpenResources() {
    auto lock = Locked();
    const Machine& m = TheMachine();
    OpenCounts counts;
    for (const auto& [value, handle] : m.handles) {
        switch (handle.kind) {
            case HandleKind::kFile:
                ++counts.fileHandles;
                break;
            case HandleKind::kFind:
                ++counts.findHandles;
                break;
            case HandleKind::kScm:
                ++counts.scmHandles;
                break;
            case HandleKind::kService:
                ++counts.serviceHandles;
                break;
            case HandleKind::kKey:
                ++counts.registryKeys;
                break;
            case HandleKind::kDeviceList:
                ++counts.deviceLists;
                break;
        }
    }
    counts.driverLists = m.openDriverLists;
    counts.localBlocks = static_cast<int>(m.localBlocks.size());
    return counts;
}

int BadLocalFrees() {
    auto lock = Locked();
    return TheMachine().badLocalFrees;
}

void SetWindowsDirectory(std::string_view path) {
    auto lock = Locked();
    TheMachine().windowsDirectory = std::string(path);
    CreateDirectories(JoinPath(path, "inf"));
}

void SetSystemDirectory(std::string_view path) {
    auto lock = Locked();
    TheMachine().systemDirectory = std::string(path);
    CreateDirectories(JoinPath(path, "drivers"));
}

std::string InfDirectory() {
    auto lock = Locked();
    return JoinPath(TheMachine().windowsDirectory, "inf\\");
}

std::string DriversDirectory() {
    auto lock = Locked();
    return JoinPath(TheMachine().systemDirectory, "drivers\\");
}

void AddFile(std::string_view path, std::string_view contents, std::string_view shortName) {
    auto lock = Locked();
    PutFile(path, std::string(contents), std::string(shortName));
}

void AddDirectory(std::string_view path) {
    auto lock = Locked();
    CreateDirectories(path);
}

void LockFile(std::string_view path, bool locked) {
    auto lock = Locked();
    FileRecord* file = LookupFile(path);
    if (!file) return;
    if (locked) {
        file->opens.push_back({0, GENERIC_READ | GENERIC_WRITE, 0});
        return;
    }
    std::erase_if(file->opens, [](const FileOpen& open) { return open.handle == 0; });
}

void HoldFileOpen(std::string_view path, DWORD access, DWORD shareMode) {
    auto lock = Locked();
    if (FileRecord* file = LookupFile(path)) file->opens.push_back({0, access, shareMode});
}

bool FileExists(std::string_view path) {
    auto lock = Locked();
    return LookupFile(path) != nullptr;
}

std::optional<std::string> FileContents(std::string_view path) {
    auto lock = Locked();
    if (const FileRecord* file = LookupFile(path)) return file->contents;
    return std::nullopt;
}

std::vector<std::string> FilesIn(std::string_view directory) {
    auto lock = Locked();
    const std::string dir = Upper(TrimTrailingBackslashes(directory));
    std::vector<std::string> names;
    for (const auto& [key, file] : TheMachine().files) {
        auto [parent, name] = SplitPath(file.path);
        if (Upper(parent) == dir) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), LessNoCase);
    return names;
}

DEVINST AddDevice(Device device) {
    auto lock = Locked();
    Machine& m = TheMachine();
    device.removed = false;
    if (DeviceRecord* existing = LookupDevice(m, device.instanceId)) {
        device.devInst = existing->device.devInst;
        *existing = DeviceRecord{std::move(device), std::nullopt, std::nullopt, std::nullopt};
        return existing->device.devInst;
    }
    device.devInst = static_cast<DEVINST>(m.devices.size() + 2);
    m.devices.push_back(DeviceRecord{std::move(device), std::nullopt, std::nullopt, std::nullopt});
    return m.devices.back().device.devInst;
}

void SetHardwareIdData(std::string_view instanceId, std::string_view bytes,
                       std::optional<DWORD> reportedSize) {
    auto lock = Locked();
    if (DeviceRecord* record = LookupDevice(TheMachine(), instanceId)) {
        record->rawHardwareIds = std::string(bytes);
        record->reportedHardwareIdSize = reportedSize;
    }
}

void SetServiceData(std::string_view instanceId, std::string_view bytes) {
    auto lock = Locked();
    if (DeviceRecord* record = LookupDevice(TheMachine(), instanceId)) {
        record->rawService = std::string(bytes);
    }
}

void GrowPropertySize(int queries, DWORD growth) {
    auto lock = Locked();
    TheMachine().growingQueries = queries;
    TheMachine().growth = growth;
}

std::optional<Device> FindDevice(std::string_view instanceId) {
    auto lock = Locked();
    if (const DeviceRecord* record = LookupDevice(TheMachine(), instanceId)) return record->device;
    return std::nullopt;
}

std::vector<Device> Devices() {
    auto lock = Locked();
    std::vector<Device> devices;
    for (const DeviceRecord& record : TheMachine().devices) devices.push_back(record.device);
    std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
        return LessNoCase(a.instanceId, b.instanceId);
    });
    return devices;
}

void AddService(Service service) {
    auto lock = Locked();
    service.state = service.running ? SERVICE_RUNNING : SERVICE_STOPPED;
    service.markedForDeletion = false;
    service.openHandles = 0;
    TheMachine().services[Upper(service.name)] = std::move(service);
}

void FinishStop(std::string_view name) {
    auto lock = Locked();
    const std::string key = Upper(name);
    auto& services = TheMachine().services;
    const auto it = services.find(key);
    if (it == services.end()) return;
    it->second.state = SERVICE_STOPPED;
    it->second.running = false;
    ReapService(key);
}

bool ServiceExists(std::string_view name) {
    auto lock = Locked();
    return TheMachine().services.count(Upper(name)) != 0;
}

std::optional<Service> FindService(std::string_view name) {
    auto lock = Locked();
    const auto& services = TheMachine().services;
    const auto it = services.find(Upper(name));
    if (it == services.end()) return std::nullopt;
    return it->second;
}

void AddKey(std::string_view keyPath) {
    auto lock = Locked();
    CreateKey(keyPath);
}

void SetValue(std::string_view keyPath, std::string_view name, DWORD type, std::string_view data) {
    auto lock = Locked();
    CreateKey(keyPath);
    KeyRecord& key = TheMachine().keys[Upper(TrimTrailingBackslashes(keyPath))];
    key.values[Upper(name)] = {std::string(name), RegistryValue{type, std::string(data)}};
}

void SetStringValue(std::string_view keyPath, std::string_view name, std::string_view text,
                    DWORD type) {
    std::string data(text);
    data.push_back('\0');
    SetValue(keyPath, name, type, data);
}

bool KeyExists(std::string_view keyPath) {
    auto lock = Locked();
    return TheMachine().keys.count(Upper(TrimTrailingBackslashes(keyPath))) != 0;
}

std::optional<RegistryValue> FindValue(std::string_view keyPath, std::string_view name) {
    auto lock = Locked();
    const auto& keys = TheMachine().keys;
    const auto key = keys.find(Upper(TrimTrailingBackslashes(keyPath)));
    if (key == keys.end()) return std::nullopt;
    const auto value = key->second.values.find(Upper(name));
    if (value == key->second.values.end()) return std::nullopt;
    return value->second.second;
}

void SetLocateRootResult(CONFIGRET result) {
    auto lock = Locked();
    TheMachine().locateRootResult = result;
}

}  // namespace kvxsim
