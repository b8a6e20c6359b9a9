// Every platform call an export makes, failed in turn with each error it can realistically
// return, on a machine where one clean run walks every branch. Each failure must leave
// nothing open, give the export's documented result, skip what depends on the failed call,
// and show the injected error wherever a trace line reports one.
#include <gtest/gtest.h>
#include <kvxsim/machine.h>

#include <cstdlib>
#include <initializer_list>
#include <iostream>
#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "entry/exports.h"
#include "reliability/machines.h"
#include "reliability/trace_checks.h"

namespace reliability {
namespace {

// ---- What can fail, and how ------------------------------------------------------------

struct FailureModes {
    std::vector<DWORD> errors;
    // Reports failure through the last error, so a failure that leaves it 0 is possible
    // too. Reg* and CM_* functions return their error instead: 0 is their success.
    bool lastError = true;
};

const std::map<std::string, FailureModes, std::less<>>& Failures() {
    static const std::map<std::string, FailureModes, std::less<>> failures = {
        {"OpenSCManagerA", {{ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY}}},
        {"OpenServiceA", {{ERROR_ACCESS_DENIED, ERROR_SERVICE_DOES_NOT_EXIST, ERROR_INVALID_NAME}}},
        {"ControlService",
         {{ERROR_ACCESS_DENIED, ERROR_DEPENDENT_SERVICES_RUNNING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
           ERROR_SERVICE_NOT_ACTIVE, ERROR_SERVICE_REQUEST_TIMEOUT}}},
        {"DeleteService", {{ERROR_ACCESS_DENIED, ERROR_SERVICE_MARKED_FOR_DELETE}}},
        {"CloseServiceHandle", {{ERROR_INVALID_HANDLE}}},
        {"RegOpenKeyExA", {{ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}, false}},
        {"RegQueryValueExA", {{ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ERROR_ACCESS_DENIED}, false}},
        {"RegCloseKey", {{ERROR_INVALID_HANDLE}, false}},
        {"RegDeleteKeyA", {{ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}, false}},
        {"GetWindowsDirectoryA", {{ERROR_NOT_ENOUGH_MEMORY}}},
        {"GetSystemDirectoryA", {{ERROR_NOT_ENOUGH_MEMORY}}},
        {"DeleteFileA", {{ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}}},
        {"CreateFileA", {{ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}}},
        {"ReadFile", {{ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED}}},
        {"CloseHandle", {{ERROR_INVALID_HANDLE}}},
        {"FindFirstFileA", {{ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED}}},
        {"FindNextFileA", {{ERROR_NO_MORE_FILES, ERROR_ACCESS_DENIED}}},
        {"FindClose", {{ERROR_INVALID_HANDLE}}},
        {"LocalAlloc", {{ERROR_NOT_ENOUGH_MEMORY}}},
        {"LocalFree", {{ERROR_INVALID_HANDLE}}},
        {"SetupCopyOEMInfA",
         {{ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER,
           ERROR_INSUFFICIENT_BUFFER}}},
        {"UpdateDriverForPlugAndPlayDevicesA",
         {{ERROR_NO_SUCH_DEVINST, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_IN_WOW64}}},
        {"SetupDiGetClassDevsA", {{ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY}}},
        {"SetupDiEnumDeviceInfo",
         {{ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE, ERROR_INVALID_USER_BUFFER}}},
        {"SetupDiGetDeviceRegistryPropertyA",
         {{ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER, ERROR_NO_SUCH_DEVINST,
           ERROR_INVALID_HANDLE}}},
        {"SetupDiBuildDriverInfoList",
         {{ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY, ERROR_NO_SUCH_DEVINST}}},
        {"SetupDiEnumDriverInfoA",
         {{ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE, ERROR_INVALID_USER_BUFFER}}},
        // ERROR_INSUFFICIENT_BUFFER comes with the fixed fields filled; clean runs have it.
        {"SetupDiGetDriverInfoDetailA",
         {{ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, ERROR_INVALID_USER_BUFFER}}},
        {"SetupDiDestroyDriverInfoList", {{ERROR_INVALID_HANDLE}}},
        {"SetupDiDestroyDeviceInfoList", {{ERROR_INVALID_HANDLE}}},
        {"SetupDiCallClassInstaller",
         {{ERROR_ACCESS_DENIED, ERROR_NO_SUCH_DEVINST, ERROR_INVALID_HANDLE}}},
        {"CM_Locate_DevNodeA", {{CR_FAILURE, CR_NO_SUCH_DEVNODE}, false}},
        {"CM_Reenumerate_DevNode", {{CR_FAILURE, CR_INVALID_DEVNODE}, false}},
    };
    return failures;
}

std::vector<DWORD> ErrorsOf(std::string_view function) {
    const auto it = Failures().find(function);
    // OutputDebugStringA returns nothing and cannot fail.
    if (it == Failures().end()) return {};
    std::vector<DWORD> errors = it->second.errors;
    if (it->second.lastError) errors.push_back(ERROR_SUCCESS);
    return errors;
}

// A failing release leaves its one resource behind; trying again would be worse.
bool ReleasesAResource(std::string_view function) {
    static const std::set<std::string_view> releases = {"CloseServiceHandle",
                                                        "RegCloseKey",
                                                        "CloseHandle",
                                                        "FindClose",
                                                        "LocalFree",
                                                        "SetupDiDestroyDriverInfoList",
                                                        "SetupDiDestroyDeviceInfoList"};
    return releases.count(function) != 0;
}

// ---- The exports and their machines ----------------------------------------------------

struct Scenario {
    const char* name;
    void (*build)();
    ErrorCode (*run)();
};

struct ExportSweep {
    const char* exportName;
    std::vector<Scenario> scenarios;
    // The result owed when `failed` failed with `error`; `clean` is the result without.
    ErrorCode (*expected)(std::string_view failed, DWORD error, ErrorCode clean);
    // Only the stop-service export traces the service manager's failures.
    bool tracesServiceCalls = false;
};

void PrintTo(const ExportSweep& sweep, std::ostream* out) {
    *out << sweep.exportName;
}

// A staging that failed without an error code is still no success: it ends the install too.
ErrorCode StagingResult(std::string_view failed, DWORD error, ErrorCode clean) {
    if (failed != "SetupCopyOEMInfA") return clean;
    return error != ERROR_SUCCESS ? error : 2;
}

void NoMachine() {}

void BuildStagingSource() {
    kvxsim::AddFile(kDz4xInf, FamilyInf("dz4x"));
}

void BuildOneNewBoard() {
    BuildStagingSource();
    kvxsim::AddFile("C:\\KVX\\DZ4X\\dz4xwin2k.sys", "MZ");
    kvxsim::AddDevice({.instanceId = "PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C\\3&2411E6FE&0&48",
                       .hardwareIds = {"PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C"}});
}

void BuildRunningService() {
    kvxsim::AddService({.name = "tlxdaemon", .running = true});
}

void BuildStoppedService() {
    kvxsim::AddService({.name = "tlxdaemon"});
}

const std::vector<ExportSweep>& Sweeps() {
    static const std::vector<ExportSweep> sweeps = {
        {"KVXSetup_CopyOemInf",
         {{"source present", BuildStagingSource,
           [] { return KVXSetup_CopyOemInf(kDz4xInf, SP_COPY_FORCE_IN_USE); }},
          {"source missing", NoMachine,
           [] { return KVXSetup_CopyOemInf(kHxInf, SP_COPY_FORCE_IN_USE); }}},
         StagingResult},
        {"KVXSetup_InstallPnpDevice",
         {{"matching board", BuildOneNewBoard,
           [] {
               return KVXSetup_InstallPnpDevice(kDz4xInf, "PCI\\VEN_8086&DEV_B555&SUBSYS_60010E7C",
                                                TRUE);
           }}},
         [](std::string_view failed, DWORD error, ErrorCode clean) -> ErrorCode {
             if (failed != "UpdateDriverForPlugAndPlayDevicesA") return clean;
             return error != ERROR_SUCCESS ? error : 2;
         }},
        {"KVXSetup_PnPInstallKVX",
         {{"upgrade", BuildUpgradeMachine,
           [] { return KVXSetup_PnPInstallKVX(kDz4xInf, kHxInf); }}},
         StagingResult},
        {"KVXSetup_PnPRemoveKVX",
         {{"installed", BuildInstalledMachine, [] { return KVXSetup_PnPRemoveKVX(); }},
          {"damaged", BuildDamagedMachine, [] { return KVXSetup_PnPRemoveKVX(); }}},
         [](std::string_view, DWORD, ErrorCode) -> ErrorCode { return 0; }},
        {"KVXSetup_RemoveDevices",
         {{"dz4x, empty prefix", BuildInstalledMachine,
           [] { return KVXSetup_RemoveDevices("dz4x", "", kProvider); }},
          {"hxhw, second device ID", BuildInstalledMachine,
           [] { return KVXSetup_RemoveDevices("hxhw", "PCI\\VEN_0E7C&DEV_0002", kProvider); }}},
         [](std::string_view failed, DWORD error, ErrorCode clean) -> ErrorCode {
             if (failed != "SetupDiGetClassDevsA") return clean;
             return error != ERROR_SUCCESS ? error : 2;
         }},
        {"KVXSetup_StopService",
         {{"running", BuildRunningService, [] { return KVXSetup_StopService("tlxdaemon"); }},
          {"stopped", BuildStoppedService, [] { return KVXSetup_StopService("tlxdaemon"); }},
          {"missing", NoMachine, [] { return KVXSetup_StopService("tlxdaemon"); }}},
         [](std::string_view failed, DWORD error, ErrorCode clean) -> ErrorCode {
             const bool owed = failed == "OpenSCManagerA" || failed == "OpenServiceA" ||
                               failed == "ControlService";
             if (!owed) return clean;
             return error != ERROR_SUCCESS ? error : 2;
         },
         true},
    };
    return sweeps;
}

// ---- One run ---------------------------------------------------------------------------

struct Run {
    ErrorCode result = 0;
    std::vector<kvxsim::Call> journal;
    std::vector<std::string> trace;
    int open = 0;
    int badFrees = 0;
};

struct Fault {
    std::string function;
    DWORD error = 0;
    int nth = 0;
    size_t at = 0;  // journal index of the failing call
};

Run Execute(const Scenario& scenario, const Fault* fault) {
    kvxsim::Reset();
    scenario.build();
    kvxsim::ClearJournal();
    kvxsim::ClearDebugOutput();
    if (fault) kvxsim::FailCall(fault->function, fault->error, fault->nth, 1);
    // Whatever the module reports must come from the platform, not from before the call.
    SetLastError(0xDEADBEEF);
    Run run;
    run.result = scenario.run();
    run.journal = kvxsim::Journal();
    run.trace = kvxsim::DebugOutput();
    run.open = kvxsim::OpenResources().Total();
    run.badFrees = kvxsim::BadLocalFrees();
    return run;
}

// ---- Checks ----------------------------------------------------------------------------

using Journal = std::vector<kvxsim::Call>;

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

bool Names(const kvxsim::Call& call, std::string_view function, std::string_view arg = {}) {
    if (call.function != function) return false;
    if (arg.empty()) return true;
    for (const std::string& a : call.args) {
        if (SameText(a, arg)) return true;
    }
    return false;
}

// Index of the first call at or after `from` of one of the functions; the journal's size
// when there is none.
size_t NextOf(const Journal& journal, size_t from,
              std::initializer_list<std::string_view> functions) {
    for (size_t i = from; i < journal.size(); ++i) {
        for (std::string_view function : functions) {
            if (journal[i].function == function) return i;
        }
    }
    return journal.size();
}

bool SameCall(const kvxsim::Call& a, const kvxsim::Call& b) {
    return a.function == b.function && a.args == b.args;
}

size_t NextPlatformCall(const Journal& journal, size_t from) {
    for (size_t i = from; i < journal.size(); ++i) {
        if (journal[i].function != "OutputDebugStringA") return i;
    }
    return journal.size();
}

int CountIn(const Journal& journal, size_t from, size_t to, std::string_view function,
            std::string_view arg = {}) {
    int count = 0;
    for (size_t i = from; i < to && i < journal.size(); ++i)
        count += Names(journal[i], function, arg);
    return count;
}

class RunChecker {
public:
    RunChecker(const Journal& journal, const Fault& fault, std::vector<std::string>* problems)
        : journal_(journal), fault_(fault), problems_(problems) {}

    void Problem(const std::string& text) { problems_->push_back(text); }

    void NotBetween(size_t from, size_t to, std::string_view function, std::string_view arg = {}) {
        if (CountIn(journal_, from, to, function, arg) > 0) {
            Problem(std::string(function) + "(" + std::string(arg) + ") made after the failure");
        }
    }
    void NotAfter(std::string_view function, std::string_view arg = {}) {
        NotBetween(fault_.at + 1, journal_.size(), function, arg);
    }
    void NextCallIs(std::string_view function, std::string_view arg = {}) {
        const size_t next = NextPlatformCall(journal_, fault_.at + 1);
        if (next >= journal_.size() || !Names(journal_[next], function, arg)) {
            Problem("next call is not " + std::string(function) + "(" + std::string(arg) + ")");
        }
    }
    void NextCallIsNot(std::string_view function) {
        const size_t next = NextPlatformCall(journal_, fault_.at + 1);
        if (next < journal_.size() && journal_[next].function == function) {
            Problem("next call is " + std::string(function));
        }
    }
    std::string Arg(size_t index) const {
        const auto& args = journal_[fault_.at].args;
        return index < args.size() ? args[index] : std::string();
    }
    size_t Until(std::initializer_list<std::string_view> functions) const {
        return NextOf(journal_, fault_.at + 1, functions);
    }

private:
    const Journal& journal_;
    const Fault& fault_;
    std::vector<std::string>* problems_;
};

// The calls that depend on the failed one must not be made.
void CheckSkipped(const Journal& journal, const Journal& clean, const Fault& fault,
                  std::vector<std::string>* problems) {
    RunChecker check(journal, fault, problems);
    const std::string& f = fault.function;
    const DWORD e = fault.error;
    const size_t at = fault.at;
    if (f == "OpenSCManagerA") {
        const size_t end = check.Until({"OpenSCManagerA"});
        for (const char* dependent :
             {"OpenServiceA", "ControlService", "DeleteService", "CloseServiceHandle"}) {
            check.NotBetween(at + 1, end, dependent);
        }
    } else if (f == "OpenServiceA") {
        const std::string service = check.Arg(0);
        const size_t end = check.Until({"OpenSCManagerA"});
        check.NotBetween(at + 1, end, "ControlService");
        check.NotBetween(at + 1, end, "DeleteService");
        if (CountIn(journal, at + 1, end, "CloseServiceHandle") != 1 ||
            CountIn(journal, at + 1, end, "CloseServiceHandle", service) != 0) {
            check.Problem("not exactly the manager closed after the service failed to open");
        }
        // A service that could not be opened to stop it, other than for being absent, is
        // not stopped and so must not be deleted, even when the platform gave no error code.
        if (e != ERROR_SERVICE_DOES_NOT_EXIST) check.NotAfter("DeleteService", service);
    } else if (f == "ControlService") {
        check.NextCallIs("CloseServiceHandle", check.Arg(0));
        if (e != ERROR_SERVICE_NOT_ACTIVE) check.NotAfter("DeleteService", check.Arg(0));
    } else if (f == "DeleteService") {
        check.NotAfter("RegDeleteKeyA", std::string(kEventSources) + check.Arg(0));
        check.NextCallIs("CloseServiceHandle", check.Arg(0));
    } else if (f == "RegOpenKeyExA") {
        check.NextCallIsNot("RegQueryValueExA");
        check.NextCallIsNot("RegCloseKey");
        check.NotBetween(at + 1, check.Until({"OpenSCManagerA"}), "SetupDiGetClassDevsA");
    } else if (f == "RegQueryValueExA") {
        check.NextCallIs("RegCloseKey", check.Arg(0));
        check.NotBetween(at + 1, check.Until({"OpenSCManagerA"}), "SetupDiGetClassDevsA");
    } else if (f == "SetupDiGetClassDevsA") {
        const size_t end = check.Until({"SetupDiGetClassDevsA"});
        check.NotBetween(at + 1, end, "SetupDiEnumDeviceInfo");
        check.NotBetween(at + 1, end, "SetupDiDestroyDeviceInfoList");
    } else if (f == "SetupDiEnumDeviceInfo") {
        check.NotBetween(at + 1, check.Until({"SetupDiGetClassDevsA"}), "SetupDiEnumDeviceInfo");
        check.NextCallIs("SetupDiDestroyDeviceInfoList");
    } else if (f == "SetupDiGetDeviceRegistryPropertyA" || f == "LocalAlloc") {
        // The device is skipped: nothing more is asked about it or done to it.
        const size_t end = check.Until({"SetupDiEnumDeviceInfo"});
        for (const char* dependent : {"SetupDiGetDeviceRegistryPropertyA",
                                      "SetupDiBuildDriverInfoList", "SetupDiCallClassInstaller"}) {
            check.NotBetween(at + 1, end, dependent);
        }
    } else if (f == "SetupDiBuildDriverInfoList") {
        // The device is still removed, without touching a list that was never built.
        check.NextCallIs("SetupDiCallClassInstaller", check.Arg(0));
    } else if (f == "SetupDiEnumDriverInfoA") {
        check.NextCallIs("SetupDiDestroyDriverInfoList", check.Arg(0));
    } else if (f == "SetupDiGetDriverInfoDetailA") {
        check.NextCallIs("SetupDiEnumDriverInfoA", check.Arg(0));
    } else if (f == "CreateFileA") {
        check.NextCallIsNot("ReadFile");
        check.NextCallIsNot("CloseHandle");
        check.NotAfter("DeleteFileA", check.Arg(0));
    } else if (f == "ReadFile") {
        check.NextCallIs("CloseHandle");
        for (size_t i = at; i-- > 0;) {
            if (journal[i].function != "CreateFileA") continue;
            check.NotAfter("DeleteFileA", journal[i].args.at(0));
            break;
        }
    } else if (f == "FindFirstFileA") {
        check.NotAfter("FindNextFileA");
        check.NotAfter("FindClose");
        check.NotAfter("CreateFileA");
    } else if (f == "FindNextFileA") {
        check.NextCallIs("FindClose");
        check.NotAfter("CreateFileA");
    } else if (f == "GetWindowsDirectoryA") {
        const size_t end = check.Until({"GetSystemDirectoryA"});
        check.NotBetween(at + 1, end, "FindFirstFileA");
        check.NotBetween(at + 1, end, "DeleteFileA");
    } else if (f == "GetSystemDirectoryA") {
        check.NotAfter("DeleteFileA");
    } else if (f == "CM_Locate_DevNodeA") {
        check.NotAfter("CM_Reenumerate_DevNode");
    } else if (f == "SetupCopyOEMInfA") {
        // The staging that failed ends the install: no update, no further staging, no
        // re-enumeration.
        check.NotAfter("SetupCopyOEMInfA");
        check.NotAfter("UpdateDriverForPlugAndPlayDevicesA");
        check.NotAfter("CM_Locate_DevNodeA");
    } else if (f == "UpdateDriverForPlugAndPlayDevicesA") {
        const auto updates = [](const Journal& j) {
            return CountIn(j, 0, j.size(), "UpdateDriverForPlugAndPlayDevicesA");
        };
        if (updates(journal) != updates(clean)) check.Problem("a failed update ended the install");
    }
}

// Errors shown in a trace line: "err=%d", "err=%d (%x)", "returned %d (%x)" and
// "Last Error: %x(%d)", as (decimal, hexadecimal) pairs; a missing half is nullopt.
struct ShownError {
    std::optional<long> decimal;
    std::optional<unsigned long> hex;
};

std::vector<ShownError> ShownErrors(const std::string& line) {
    static const std::regex decimalFirst(R"((?:err=|returned )(-?\d+)(?: \(([0-9a-f]+)\))?)");
    static const std::regex hexFirst(R"(Last Error: ([0-9a-f]+)\((-?\d+)\))");
    std::vector<ShownError> shown;
    std::smatch match;
    if (std::regex_search(line, match, decimalFirst)) {
        ShownError error{std::stol(match[1].str()), std::nullopt};
        if (match[2].matched) error.hex = std::stoul(match[2].str(), nullptr, 16);
        shown.push_back(error);
    }
    if (std::regex_search(line, match, hexFirst)) {
        shown.push_back({std::stol(match[2].str()), std::stoul(match[1].str(), nullptr, 16)});
    }
    return shown;
}

// The trace line written right after the failed call, if the module reports the failure
// there, must show the error the platform gave, read before any other call.
void CheckTracedError(const Journal& journal, const Fault& fault, bool tracesServiceCalls,
                      std::vector<std::string>* problems) {
    static const std::set<std::string_view> alwaysTraced = {
        "SetupCopyOEMInfA",           "SetupDiGetClassDevsA",
        "SetupDiEnumDeviceInfo",      "LocalAlloc",
        "SetupDiEnumDriverInfoA",     "SetupDiCallClassInstaller",
        "SetupDiBuildDriverInfoList", "SetupDiGetDriverInfoDetailA"};
    const std::string& f = fault.function;
    const size_t at = fault.at;
    const auto previousTrace = [&](std::string_view start) {
        return at > 0 && journal[at - 1].function == "OutputDebugStringA" &&
               journal[at - 1].args.at(0).rfind(start, 0) == 0;
    };
    const bool traced =
        alwaysTraced.count(f) != 0 ||
        (f == "SetupDiGetDeviceRegistryPropertyA" && fault.error != ERROR_INVALID_DATA) ||
        (f == "DeleteFileA" && previousTrace("InfFileName=")) ||
        (tracesServiceCalls &&
         (f == "OpenSCManagerA" || f == "OpenServiceA" || f == "ControlService"));
    // The lines written between the failed call and the module's next platform call.
    std::vector<std::string> lines;
    for (size_t i = at + 1; i < journal.size() && journal[i].function == "OutputDebugStringA";
         ++i) {
        lines.push_back(journal[i].args.at(0));
    }
    const long signedError = static_cast<int>(fault.error);
    bool reported = false;
    for (const std::string& line : lines) {
        if (f == "SetupDiEnumDeviceInfo" && fault.error == ERROR_NO_MORE_ITEMS) {
            reported |= line == "SetupDiEnumDeviceInfo - no more items\n";
            continue;
        }
        if (f == "SetupCopyOEMInfA" && line.rfind("Return from SetupCopyOEMInf", 0) == 0 &&
            line != "Return from SetupCopyOEMInf: 0, err=" + std::to_string(signedError) +
                        ", name=\n") {
            problems->push_back("failed staging traced as \"" + line + "\"");
        }
        for (const ShownError& shown : ShownErrors(line)) {
            if ((shown.decimal && *shown.decimal != signedError) ||
                (shown.hex && *shown.hex != fault.error)) {
                problems->push_back("error misreported in \"" + line + "\"");
            } else {
                reported = true;
            }
        }
    }
    if (traced && !reported) problems->push_back("the failure of " + f + " is not traced");
}

// ---- The sweep -------------------------------------------------------------------------

struct Figures {
    int runs = 0;
    int faults = 0;
    int calls = 0;
};

// The faults a clean run's journal leads to: every call, each of its errors.
std::vector<Fault> PlanFaults(const Journal& clean) {
    std::vector<Fault> faults;
    std::map<std::string, int> seen;
    for (size_t at = 0; at < clean.size(); ++at) {
        const std::string& function = clean[at].function;
        const int nth = ++seen[function];
        for (DWORD error : ErrorsOf(function)) faults.push_back({function, error, nth, at});
    }
    return faults;
}

Figures Plan(const ExportSweep& sweep) {
    Figures figures;
    for (const Scenario& scenario : sweep.scenarios) {
        const Run clean = Execute(scenario, nullptr);
        const int faults = static_cast<int>(PlanFaults(clean.journal).size());
        figures.calls += static_cast<int>(clean.journal.size());
        figures.faults += faults;
        figures.runs += faults + 1;
    }
    return figures;
}

std::string Describe(const ExportSweep& sweep, const Scenario& scenario, const Fault& fault,
                     const Run& run) {
    return std::string(sweep.exportName) + " (" + scenario.name + "): call " +
           std::to_string(fault.at + 1) + " " + fault.function + " #" + std::to_string(fault.nth) +
           " failing with " + std::to_string(fault.error) + ", result " +
           std::to_string(run.result);
}

Figures Sweep(const ExportSweep& sweep, std::vector<std::string>* failures) {
    Figures figures;
    for (const Scenario& scenario : sweep.scenarios) {
        const Run clean = Execute(scenario, nullptr);
        ++figures.runs;
        figures.calls += static_cast<int>(clean.journal.size());
        if (clean.open != 0 || clean.badFrees != 0 || !TraceIsWellFormed(clean.trace)) {
            failures->push_back(std::string(sweep.exportName) + " (" + scenario.name +
                                "): clean run left resources open or a malformed trace");
        }
        for (const Fault& fault : PlanFaults(clean.journal)) {
            ++figures.runs;
            ++figures.faults;
            const Run run = Execute(scenario, &fault);
            std::vector<std::string> problems;
            const ErrorCode owed = sweep.expected(fault.function, fault.error, clean.result);
            if (run.result != owed) problems.push_back("result should be " + std::to_string(owed));
            const int left = ReleasesAResource(fault.function) ? 1 : 0;
            if (run.open != left) problems.push_back(std::to_string(run.open) + " resources open");
            if (run.badFrees != 0) problems.push_back("bad LocalFree");
            if (run.journal.size() <= fault.at ||
                !SameCall(run.journal[fault.at], clean.journal[fault.at])) {
                problems.push_back("the injected failure did not hit the intended call");
            } else {
                for (size_t i = 0; i < fault.at; ++i) {
                    if (SameCall(run.journal[i], clean.journal[i])) continue;
                    problems.push_back("calls before the failure differ from the clean run");
                    break;
                }
                CheckSkipped(run.journal, clean.journal, fault, &problems);
                CheckTracedError(run.journal, fault, sweep.tracesServiceCalls, &problems);
            }
            if (const auto wellFormed = TraceIsWellFormed(run.trace); !wellFormed) {
                problems.push_back(wellFormed.message());
            }
            for (const std::string& problem : problems) {
                failures->push_back(Describe(sweep, scenario, fault, run) + ": " + problem);
            }
        }
    }
    return figures;
}

void PrintFigures(std::string_view name, const Figures& figures, bool withCalls) {
    std::cout << "figure: sweep " << name << " runs " << figures.runs << " faults "
              << figures.faults;
    if (withCalls) std::cout << " calls " << figures.calls;
    std::cout << std::endl;
}

class FaultSweep : public ::testing::TestWithParam<ExportSweep> {};

TEST_P(FaultSweep, EveryFailingCallIsSurvivedAsDocumented) {
    std::vector<std::string> failures;
    const Figures figures = Sweep(GetParam(), &failures);
    PrintFigures(GetParam().exportName, figures, false);
    EXPECT_GT(figures.faults, 0);
    constexpr size_t kShown = 40;
    for (size_t i = 0; i < failures.size() && i < kShown; ++i) ADD_FAILURE() << failures[i];
    EXPECT_TRUE(failures.empty()) << failures.size() << " problems in " << figures.faults
                                  << " runs with a failing call";
}

INSTANTIATE_TEST_SUITE_P(Exports, FaultSweep, ::testing::ValuesIn(Sweeps()),
                         [](const ::testing::TestParamInfo<ExportSweep>& info) {
                             return std::string(info.param.exportName);
                         });

// Totals are counted from the clean runs alone: each call and error make one run.
TEST(FaultSweepTotals, CoverEveryExport) {
    Figures total;
    for (const ExportSweep& sweep : Sweeps()) {
        const Figures figures = Plan(sweep);
        EXPECT_GT(figures.faults, 0) << sweep.exportName;
        total.runs += figures.runs;
        total.faults += figures.faults;
        total.calls += figures.calls;
    }
    EXPECT_EQ(Sweeps().size(), 6u);
    PrintFigures("total", total, true);
}

}  // namespace
}  // namespace reliability
