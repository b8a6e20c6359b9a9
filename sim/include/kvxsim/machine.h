// Test controls of the stand-in Windows machine: build a machine, act on it through the
// Win32 functions of <kvxsim/win32.h>, and inspect what is left.
//
//     kvxsim::Reset();
//     kvxsim::AddFile("C:\\src\\board.inf", "[Version]\r\nProvider=Us\r\n...");
//     kvxsim::AddDevice({.instanceId = "PCI\\VEN_1234&DEV_0001\\3&11&0&08",
//                        .service = "board",
//                        .hardwareIds = {"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234"}});
//     kvxsim::AddService({.name = "board", .running = true});
//     kvxsim::FailCall("OpenServiceA", ERROR_ACCESS_DENIED);   // the next call fails
//     ... call the module ...
//     EXPECT_EQ(kvxsim::OpenResources().Total(), 0);
//     EXPECT_LT(kvxsim::FindCall("ControlService"), kvxsim::FindCall("DeleteService"));
//
// Every function here takes the machine's lock, so tests may inspect while other threads
// call the Win32 functions. Paths, service names, key paths, value names and instance IDs
// are matched without regard to letter case, as Windows matches them; paths are not
// normalised otherwise, so "C:\\WINNT\\\\inf" (a doubled separator) names no file.
#pragma once

#include <kvxsim/win32.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvxsim {

// A fresh Windows 2000 machine: Windows directory "C:\\WINNT", system directory
// "C:\\WINNT\\system32", the empty directories C:\WINNT\inf and C:\WINNT\system32\drivers,
// no devices, services, journal, debugger output or pending failures, and the registry keys
// SYSTEM\CurrentControlSet\Services\EventLog\System under HKEY_LOCAL_MACHINE. Handles from
// before the reset are invalid afterwards; the calling thread's last error becomes 0.
void Reset();

// ---- Debugger output -------------------------------------------------------------------

// Every OutputDebugStringA write, one string per write, in order.
std::vector<std::string> DebugOutput();
// All writes concatenated: what a debug viewer would show.
std::string DebugText();
void ClearDebugOutput();

// ---- Failures and journal --------------------------------------------------------------

// Makes the nth future call (1 = the next one) of `function`, named as in Win32
// ("OpenServiceA", "RegOpenKeyExA", "LocalAlloc", ...), fail with `error`, and the
// `times` - 1 calls after it as well (times 0: every call from the nth on). Error 0 is
// allowed: the call then fails with last error 0. A failing call is journaled, changes
// nothing, and returns the function's failure value: FALSE, NULL, 0 or
// INVALID_HANDLE_VALUE with the last error set; Reg* functions return the error, CM_*
// functions return it as their CONFIGRET.
void FailCall(std::string_view function, DWORD error, int nth = 1, int times = 1);
void ClearFailures();

// One journaled call: the Win32 name and its key arguments. Strings as passed (NULL as
// ""), numbers (access masks, flags, sizes, indices) as lower-case hex "0x1f". Calls that
// name a device show its instance ID; calls on a key or service handle show the key path
// or service name the handle refers to.
struct Call {
    std::string function{};
    std::vector<std::string> args{};
    // "OpenServiceA(Dz4x, 0xf01ff)"
    std::string Text() const;
};

// Every Win32 call since the reset or ClearJournal, except GetLastError and SetLastError.
std::vector<Call> Journal();
// Journal() one call per line, for failure messages.
std::string JournalText();
void ClearJournal();
// The journaled calls of one function, in order.
std::vector<Call> Calls(std::string_view function);
// Index in Journal() of the first call of `function`, at or after `from`, one of whose
// arguments equals `arg` (letter case ignored; an empty `arg` matches any call); -1 if none.
int FindCall(std::string_view function, std::string_view arg = {}, int from = 0);
int CountCalls(std::string_view function, std::string_view arg = {});
// "0x1f": how the journal writes numbers.
std::string Hex(DWORD value);

// ---- Open resources --------------------------------------------------------------------

struct OpenCounts {
    int scmHandles = 0;
    int serviceHandles = 0;
    int registryKeys = 0;
    int fileHandles = 0;
    int findHandles = 0;
    int deviceLists = 0;
    // Built with SetupDiBuildDriverInfoList and not yet given to
    // SetupDiDestroyDriverInfoList. Destroying the device list does not count as destroying
    // its driver lists here, so a forgotten destroy shows.
    int driverLists = 0;
    int localBlocks = 0;
    int Total() const;
};
OpenCounts OpenResources();
// LocalFree calls with a pointer the local heap did not hand out or already took back.
int BadLocalFrees();

// ---- Files -----------------------------------------------------------------------------

// Windows and system directory exactly as the queries report them (a trailing backslash
// is kept; strings of 520 characters or more make the queries, passed 520, report the
// required size). The directory itself and its "inf" or "drivers" subdirectory are
// created. To make a query fail, FailCall("GetWindowsDirectoryA", error, 1, 0).
void SetWindowsDirectory(std::string_view path);
void SetSystemDirectory(std::string_view path);
// "C:\\WINNT\\inf\\" from the Windows directory, with exactly one backslash between.
std::string InfDirectory();
std::string DriversDirectory();

// Adds or replaces a file, creating its directories. `shortName` is the optional 8.3 name
// ("OEMFIL~1.INF") that wildcard searches and opens also match.
void AddFile(std::string_view path, std::string_view contents, std::string_view shortName = {});
void AddDirectory(std::string_view path);
// Held open by another process without sharing: opening and deleting fail with
// ERROR_SHARING_VIOLATION until unlocked. Unlocking ends every hold of other processes.
void LockFile(std::string_view path, bool locked = true);
// Held open by another process with `access`, letting others do what `shareMode`
// (FILE_SHARE_*) allows. As on Windows, a later open fails with ERROR_SHARING_VIOLATION
// when either side's access is not shared by the other; a deletion needs FILE_SHARE_DELETE.
void HoldFileOpen(std::string_view path, DWORD access, DWORD shareMode);
bool FileExists(std::string_view path);
std::optional<std::string> FileContents(std::string_view path);
// Long names of the files directly in `directory`, sorted without regard to case.
std::vector<std::string> FilesIn(std::string_view directory);

// ---- Devices ---------------------------------------------------------------------------

// A compatible driver of a device, as SetupDiEnumDriverInfoA and
// SetupDiGetDriverInfoDetailA report it.
struct Driver {
    std::string description{};
    std::string manufacturer{};
    std::string provider{};
    std::string infPath{};  // full path, reported in InfFileName
    std::string section{};
    std::string hardwareId{};  // empty: the detail's hardware-ID list is empty
};

struct Device {
    std::string instanceId{};
    // Absent: the device has no SPDRP_SERVICE property.
    std::optional<std::string> service{};
    // Reported as a multi-string; empty: no SPDRP_HARDWAREID property. See
    // SetHardwareIdData for odd data.
    std::vector<std::string> hardwareIds{};
    bool present = true;  // false: a phantom, listed only without DIGCF_PRESENT
    std::vector<Driver> drivers{};
    // Set by the stand-in.
    bool removed = false;  // by DIF_REMOVE; the device is then gone from the machine
    DEVINST devInst = 0;
};

// Adds a device (replacing one with the same instance ID) and returns its devnode.
DEVINST AddDevice(Device device);
// The SPDRP_HARDWAREID property as raw bytes, which need not be terminated; the property
// then reports `reportedSize` bytes (default: the data's size). A reported size beyond the
// data is filled with zero bytes; one below it cuts the data.
void SetHardwareIdData(std::string_view instanceId, std::string_view bytes,
                       std::optional<DWORD> reportedSize = std::nullopt);
// The SPDRP_SERVICE property as raw bytes, reported in full; they need not be terminated.
void SetServiceData(std::string_view instanceId, std::string_view bytes);
// The next `queries` calls of SetupDiGetDeviceRegistryPropertyA fail with
// ERROR_INSUFFICIENT_BUFFER and report a required size `growth` bytes above the larger of
// the true size and the buffer size passed, as when the property changes between calls.
void GrowPropertySize(int queries, DWORD growth = 16);
std::optional<Device> FindDevice(std::string_view instanceId);
std::vector<Device> Devices();  // in instance-ID order, removed ones included

// ---- Services --------------------------------------------------------------------------

struct Service {
    std::string name{};
    bool running = false;
    // Non-zero: the stop control fails with this error (ERROR_DEPENDENT_SERVICES_RUNNING,
    // ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ...) and the service keeps running.
    DWORD stopError = 0;
    // The stop control leaves the service in SERVICE_STOP_PENDING until FinishStop.
    bool stopsSlowly = false;
    // Services that depend on this one: while one of them runs, the stop control fails with
    // ERROR_DEPENDENT_SERVICES_RUNNING, as Windows NT answers (some platforms stop it anyway).
    std::vector<std::string> dependents{};
    // Set by the stand-in.
    DWORD state = 0;  // SERVICE_STOPPED, SERVICE_STOP_PENDING or SERVICE_RUNNING
    bool markedForDeletion = false;
    int openHandles = 0;
};

void AddService(Service service);
// A service left stop-pending by stopsSlowly reaches SERVICE_STOPPED (and goes away if it
// is marked for deletion and no handle is open).
void FinishStop(std::string_view name);
bool ServiceExists(std::string_view name);
std::optional<Service> FindService(std::string_view name);

// ---- Registry (HKEY_LOCAL_MACHINE) -----------------------------------------------------

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data{};  // raw bytes; string values include their terminator
};

// Keys are paths below HKEY_LOCAL_MACHINE ("SYSTEM\\CurrentControlSet\\Services\\dz4x");
// missing parent keys are created.
void AddKey(std::string_view keyPath);
void SetValue(std::string_view keyPath, std::string_view name, DWORD type, std::string_view data);
// A REG_SZ (or REG_EXPAND_SZ) value; the terminator is added.
void SetStringValue(std::string_view keyPath, std::string_view name, std::string_view text,
                    DWORD type = REG_SZ);
bool KeyExists(std::string_view keyPath);
std::optional<RegistryValue> FindValue(std::string_view keyPath, std::string_view name);

// ---- Device tree -----------------------------------------------------------------------

// The devnode CM_Locate_DevNodeA reports for the root.
inline constexpr DEVINST kRootDevNode = 1;
// What CM_Locate_DevNodeA returns for the root from now on (CR_SUCCESS after a reset).
void SetLocateRootResult(CONFIGRET result);

}  // namespace kvxsim
