// kvxsetup: calls one export of KVXSETUPW2K.dll from the command line, loading the module by
// name as the product installer does, and shows its trace and its result.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <string>

#include "change_report.h"
#include "command_line.h"
#include "commands.h"
#include "debug_output_watch.h"
#include "inf_paths.h"
#include "inventory.h"
#include "inventory_format.h"
#include "kvx_version.h"
#include "module_file.h"
#include "run_log.h"
#include "trace_echo.h"
#include "interposition/error_text.h"
#include "interposition/machine_changes.h"
#include "win32_common/run_lock.h"
#include "win32_common/package_check.h"
#include "win32_common/system_dlls.h"

namespace {

constexpr char kHostVersion[] = KVX_VERSION_TEXT;

// Exit codes besides the export's own result.
constexpr int kUsageError = 1;

// Whether the trace the listener hands on is shown; it is logged either way.
bool g_show_trace = true;

void PrintUsage(FILE* to) {
    fprintf(to,
            "usage: kvxsetup [OPTIONS] COMMAND [ARGUMENTS]\n"
            "       kvxsetup [--log FILE] inventory [--format text|csv|json]\n"
            "       kvxsetup [--log FILE] watch [--seconds N]\n"
            "       kvxsetup --help | -h | /? | --version\n"
            "\n"
            "Calls one export of %s and prints its result (decimal, hexadecimal and\n"
            "the system's message) on stdout, then what the call changed on the machine and\n"
            "what the system refused; the module's trace goes to stderr as it is written.\n"
            "\noptions (before the command):\n"
            "  --dll PATH           load the module from PATH (a full path), not from\n"
            "                       kvxsetup.exe's folder\n"
            "  --quiet              show only the result line\n"
            "  --log FILE           append every line shown, the trace and the change report\n"
            "                       to FILE with the date, time and process ID\n"
            "  --report FILE        write the changes and refusals to FILE as JSON\n"
            "  --what-if            run the export with every change held back, and list the\n"
            "                       changes it would make and what would be refused\n"
            "  --finish-at-restart  finish files in use at the next restart: replace those the\n"
            "                       install puts back, delete the others; exit 3010 when a\n"
            "                       restart is needed to finish\n"
            "  --check-arguments    (anywhere) check the command line as a run would, then do\n"
            "                       nothing; the exit code is the run's refusal, or 0\n"
            "\ncommands:\n",
            kModuleName);
    for (const Command& command : Commands()) {
        fprintf(to, "  %s %s\n      %s: %s\n", command.name, command.synopsis, command.export_name,
                command.summary);
    }
    fprintf(to,
            "  inventory [--format text|csv|json]\n"
            "      list what of the product is on the machine now (changes nothing)\n"
            "  watch [--seconds N]\n"
            "      print every process's debug output with its process ID, until Ctrl+C\n"
            "      or for N seconds\n"
            "  check-package FIRST_INF SECOND_INF\n"
            "      check what install would check before it removes anything: both INFs\n"
            "      open, every file they copy is there, the system drive has room\n"
            "\n"
            "Each option at most once, with a value that is not empty. INF paths are made\n"
            "full from the current folder before the module sees them; one of 260 characters\n"
            "or more is refused with 206. Numbers are decimal, or hexadecimal with 0x.\n"
            "Exit code: the export's result (0 for success); 3010 with --finish-at-restart\n"
            "when the export returned 0 and a restart finishes the job; 1 for a usage error;\n"
            "the system's error code when the module cannot be loaded or lacks the export,\n"
            "or the log or report cannot be written; 50 when the module's changes cannot be\n"
            "held back or followed; 206 for an INF path too long; 0xE0000235 for a 32-bit\n"
            "kvxsetup on 64-bit Windows asked to touch devices.\n");
}

int UsageError(const std::string& problem) {
    fprintf(stderr, "kvxsetup: %s\n\n", problem.c_str());
    PrintUsage(stderr);
    return kUsageError;
}

// A failure before the export ran: one line, and the system's code as the exit code.
int NotCalled(const std::string& what, DWORD error) {
    DiscardChangeReport();
    fflush(stdout);
    PrintAndLog(stderr, "kvxsetup: " + what + ": " + DescribeResult(error));
    return error ? static_cast<int>(error) : kUsageError;
}

std::string Because(const std::string& refusal) {
    return refusal.empty() ? "" : " (refused: " + refusal + ")";
}

// A line of the host's own about the trace: left out with the trace, logged all the same.
void TraceNote(const std::string& line) {
    if (g_show_trace) {
        PrintAndLog(stderr, line);
    } else {
        LogLine(GetCurrentProcessId(), line);
    }
}

int PrintVersion(const std::string& module_path) {
    printf("kvxsetup %s\n", kHostVersion);
    DWORD error = 0;
    const auto version = ReadFileVersion(module_path, &error);
    if (version) {
        printf("%s %s (%s)\n", kModuleName, version->c_str(), module_path.c_str());
    } else {
        printf("%s: no version read from %s: %s\n", kModuleName, module_path.c_str(),
               DescribeResult(error).c_str());
    }
    return 0;
}

// CSV goes out in binary: its records end in CR LF, while a line feed inside a quoted
// field must stay one, which text mode would turn into CR LF as well.
int PrintInventory(InventoryFormat format) {
    const std::vector<std::string> lines = FormatInventory(TakeInventory(), format);
    if (format != InventoryFormat::kCsv) {
        for (const std::string& line : lines) PrintAndLog(stdout, line);
        return 0;
    }
    fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    for (const std::string& line : lines) {
        const std::string record = line + "\r\n";
        fwrite(record.data(), 1, record.size(), stdout);
        LogLine(GetCurrentProcessId(), line);
    }
    fflush(stdout);
    return 0;
}

// Windows 2000 has no IsWow64Process; it is looked up where later systems have it.
bool RunsUnderWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const FARPROC address = kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    if (!address) return false;
    BOOL wow64 = FALSE;
    const auto is_wow64 =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(address));
    return is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

// Under WOW64 a 32-bit process sees the 32-bit views of the system folder and of parts of
// the registry, and cannot install drivers: what it read or changed would be wrong.
bool TouchesDevices(const CommandLine& line) {
    return line.command ? line.command->touches_devices : line.command_name == "inventory";
}

void PrintTraceLine(DWORD process_id, std::string_view line) {
    if (g_show_trace) {
        fwrite(line.data(), 1, line.size(), stderr);
        fflush(stderr);
    }
    LogLine(process_id, line);
}

void StartTraceDisplay() {
    switch (StartTraceEcho(TraceWriters::kThisProcess, PrintTraceLine)) {
        case TraceDisplay::kListening:
            break;
        case TraceDisplay::kOtherViewer:
            TraceNote(
                "kvxsetup: another debug-output viewer is running; the trace shows "
                "there, not here");
            break;
        case TraceDisplay::kUnavailable:
            TraceNote("kvxsetup: cannot listen on the debug output; the trace is not shown");
            break;
    }
}

// The preview's changes come before the result, so that the result and "nothing was
// changed" end the output as the result ends a real run's.
void PrintPreviewedChanges() {
    for (const std::string& line : DescribeRecordedChanges()) PrintAndLog(stdout, line);
    PrintAndLog(stdout, SummarizeRecordedChanges());
}

// A real run reports after its result: what changed, what was refused, and whether a
// restart finishes the job, which with --finish-at-restart turns a success into 3010.
int FinishRealRun(const CommandLine& line, DWORD result, std::vector<std::string>* reasons) {
    PrintChangeReport(!line.quiet);
    if (!line.finish_at_restart || result != ERROR_SUCCESS || !RestartNeeded(reasons)) {
        reasons->clear();
        return static_cast<int>(result);
    }
    std::vector<std::string> lines = *reasons;
    lines.push_back("a restart is needed to finish: exit code 3010 (success, restart pending)");
    for (const std::string& line_text : lines) {
        if (line.quiet) {
            LogLine(GetCurrentProcessId(), line_text);
        } else {
            PrintAndLog(stdout, line_text);
        }
    }
    return ERROR_SUCCESS_REBOOT_REQUIRED;
}

// The module is loaded only around the call: its load and unload lines frame the export's
// own trace.
int CallExportAlone(const CommandLine& line, const Command& command) {
    // The install removes the earlier release first: a package that cannot be installed must
    // be found out before that, not after. A missing argument is the module's to answer.
    if (line.command_name == "install" && !line.arguments.text[0].empty() &&
        !line.arguments.text[1].empty()) {
        std::string problem;
        const DWORD error =
            CheckDriverPackages(line.arguments.text[0], line.arguments.text[1], &problem);
        if (error != ERROR_SUCCESS) {
            return NotCalled(problem + "; nothing was changed", error);
        }
    }
    // No dialog that no one may be there to answer: what the check above could not foresee
    // fails instead of waiting.
    if (!line.what_if) UseSetupApiNonInteractively();
    if (!line.quiet || !line.log_path.empty()) StartTraceDisplay();
    HMODULE module = LoadLibraryA(line.module_path.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        FlushTraceEcho();
        return NotCalled("cannot load " + line.module_path, error);
    }
    const FARPROC address = GetProcAddress(module, command.export_name);
    if (!address) {
        const DWORD error = GetLastError();
        FreeLibrary(module);
        FlushTraceEcho();
        return NotCalled(line.module_path + " has no export " + command.export_name, error);
    }
    std::string problem;
    const DWORD error = InterposeMachineChanges(
        module, line.what_if ? InterpositionMode::kPreview : InterpositionMode::kPassThrough,
        line.finish_at_restart, &problem);
    if (error != ERROR_SUCCESS) {
        FreeLibrary(module);
        FlushTraceEcho();
        return NotCalled(problem.empty() ? "cannot follow the module's changes" : problem, error);
    }
    const DWORD result = command.invoke(address, line.arguments);
    if (!line.what_if) ScheduleHeldBackDeletions();
    FreeLibrary(module);
    FlushTraceEcho();
    int exit_code = static_cast<int>(result);
    std::vector<std::string> reasons;
    if (line.what_if) PrintPreviewedChanges();
    PrintAndLog(stdout, std::string(command.export_name) + " returned " + DescribeResult(result));
    if (line.what_if) {
        PrintAndLog(stdout, "nothing was changed");
    } else {
        exit_code = FinishRealRun(line, result, &reasons);
    }
    if (!line.report_path.empty()) {
        const DWORD written = WriteChangeReport(
            {line.command_name, command.export_name, result, line.what_if, reasons, exit_code});
        // The call happened: its report is lost, but not its result.
        if (written != ERROR_SUCCESS) {
            PrintAndLog(stderr, "kvxsetup: cannot write the report " + line.report_path + ": " +
                                    DescribeResult(written));
        }
    }
    return exit_code;
}

int CheckPackage(const CommandLine& line) {
    std::string problem;
    const DWORD error =
        CheckDriverPackages(line.arguments.text[0], line.arguments.text[1], &problem);
    if (error != ERROR_SUCCESS) return NotCalled(problem, error);
    PrintAndLog(stdout, std::string("the driver packages can be installed: ") +
                            line.arguments.text[0] + ", " + line.arguments.text[1]);
    return 0;
}

// A preview changes nothing and may run beside a setup; a real call waits for no one: it
// refuses while another run of the drivers' setup is in progress.
int CallExport(const CommandLine& line) {
    DWORD busy = ERROR_SUCCESS;
    HANDLE lock = line.what_if ? nullptr : TakeRunLock(&busy);
    if (busy != ERROR_SUCCESS) {
        return NotCalled("another run of the drivers' setup is in progress", busy);
    }
    const int exit_code = CallExportAlone(line, *line.command);
    ReleaseRunLock(lock);
    return exit_code;
}

// What refuses a run before anything is opened or loaded; --check-arguments answers the same.
// Empty when the run may go on.
std::optional<int> RefusalBeforeLoading(CommandLine* line) {
    if (TouchesDevices(*line) && RunsUnderWow64()) {
        const std::string other = SixtyFourBitHostBeside();
        fprintf(stderr,
                "kvxsetup: this 32-bit kvxsetup.exe runs on 64-bit Windows, where it cannot "
                "see or change devices and drivers rightly; run the 64-bit build of "
                "kvxsetup.exe%s%s\n",
                other.empty() ? "" : ", ", other.c_str());
        return static_cast<int>(ERROR_IN_WOW64);
    }
    std::string problem;
    const DWORD error =
        line->command ? UseFullInfPaths(*line->command, &line->arguments, &problem) : 0;
    if (error != ERROR_SUCCESS) return NotCalled(problem, error);
    return std::nullopt;
}

int Run(CommandLine line, int argc, char** argv) {
    if (line.module_path.empty()) line.module_path = ModuleBesideHost();
    if (line.command_name == "--version") return PrintVersion(line.module_path);
    g_show_trace = !line.quiet;
    if (!line.log_path.empty()) {
        std::string refusal;
        const DWORD error = OpenRunLog(line.log_path, &refusal);
        if (error != ERROR_SUCCESS) {
            return NotCalled("cannot open the log " + line.log_path + Because(refusal), error);
        }
        std::string command_line = "kvxsetup";
        for (int i = 1; i < argc; ++i) command_line += std::string(" ") + argv[i];
        LogLine(GetCurrentProcessId(), command_line);
    }
    if (!line.report_path.empty()) {
        std::string refusal;
        const DWORD error = OpenChangeReport(line.report_path, &refusal);
        if (error != ERROR_SUCCESS) {
            return NotCalled("cannot write the report " + line.report_path + Because(refusal),
                             error);
        }
    }
    if (line.command_name == "inventory") return PrintInventory(line.format);
    if (line.command_name == "check-package") return CheckPackage(line);
    if (line.command_name == "watch") return WatchDebugOutput(line.watch_seconds);
    return CallExport(line);
}

}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    // Before anything binds setupapi.dll or newdev.dll, which kvxsetup.exe imports late.
    const DWORD loaded = LoadSetupDllsFromSystemFolder(&problem);
    if (loaded != ERROR_SUCCESS) {
        fprintf(stderr, "kvxsetup: cannot load %s: %s\n", problem.c_str(),
                DescribeResult(loaded).c_str());
        return static_cast<int>(loaded);
    }
    const std::optional<CommandLine> line = ParseCommandLine(argc, argv, &problem);
    if (!line) return UsageError(problem);
    CommandLine checked = *line;
    if (const std::optional<int> refused = RefusalBeforeLoading(&checked)) return *refused;
    if (checked.check_only) {
        printf("arguments accepted: %s\n", checked.command_name.c_str());
        return 0;
    }
    if (checked.command_name == "--help") {
        PrintUsage(stdout);
        return 0;
    }
    return Run(checked, argc, argv);
}
