// kvxsetup: calls one export of KVXSETUPW2K.dll from the command line, loading the module by
// name as the product installer does, and shows its trace and its result.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "change_preview.h"
#include "commands.h"
#include "debug_output_watch.h"
#include "inventory.h"
#include "inventory_format.h"
#include "kvx_version.h"
#include "module_file.h"
#include "result_report.h"
#include "run_log.h"
#include "trace_echo.h"
#include "what_if.h"

namespace {

constexpr char kHostVersion[] = KVX_VERSION_TEXT;

// Exit codes besides the export's own result.
constexpr int kUsageError = 1;

// A week; the watch's time is counted in milliseconds in 32 bits.
constexpr DWORD kLongestWatchSeconds = 7 * 24 * 60 * 60;

struct Options {
    std::string module_path;
    std::string log_path;
    bool quiet = false;
    bool what_if = false;
};

// Whether the trace the listener hands on is shown; it is logged either way.
bool g_show_trace = true;

void PrintUsage(FILE* to) {
    fprintf(to,
            "usage: kvxsetup [--dll PATH] [--quiet] [--log FILE] [--what-if] COMMAND [ARGUMENTS]\n"
            "       kvxsetup [--log FILE] inventory [--format text|csv|json]\n"
            "       kvxsetup [--log FILE] watch [--seconds N]\n"
            "       kvxsetup --help | --version\n"
            "\n"
            "Calls one export of %s and prints its result (decimal, hexadecimal and\n"
            "the system's message) on stdout; the module's trace goes to stderr as it is\n"
            "written. The module is loaded from kvxsetup.exe's folder unless --dll names it;\n"
            "--quiet leaves the trace out. --log appends every line shown, and the trace, to\n"
            "FILE with the date, time and process ID. --what-if runs the export with every\n"
            "change to the machine held back and lists the changes it asked for.\n"
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
            "\n"
            "Numbers are decimal, or hexadecimal with 0x. Exit code: the export's result\n"
            "(0 for success); 1 for a usage error; the system's error code when the module\n"
            "cannot be loaded or lacks the export, or the log cannot be opened; 50 when the\n"
            "preview cannot hold back the module's changes.\n");
}

int UsageError(const std::string& problem) {
    fprintf(stderr, "kvxsetup: %s\n\n", problem.c_str());
    PrintUsage(stderr);
    return kUsageError;
}

// A failure before the export ran: one line, and the system's code as the exit code.
int NotCalled(const std::string& what, DWORD error) {
    fflush(stdout);
    PrintAndLog(stderr, "kvxsetup: " + what + ": " + DescribeResult(error));
    return error ? static_cast<int>(error) : kUsageError;
}

// A line of the host's own about the trace: left out with the trace, logged all the same.
void TraceNote(const std::string& line) {
    if (g_show_trace) {
        PrintAndLog(stderr, line);
    } else {
        LogLine(GetCurrentProcessId(), line);
    }
}

int PrintVersion(const Options& options) {
    printf("kvxsetup %s\n", kHostVersion);
    DWORD error = 0;
    const auto version = ReadFileVersion(options.module_path, &error);
    if (version) {
        printf("%s %s (%s)\n", kModuleName, version->c_str(), options.module_path.c_str());
    } else {
        printf("%s: no version read from %s: %s\n", kModuleName, options.module_path.c_str(),
               DescribeResult(error).c_str());
    }
    return 0;
}

int PrintInventory(InventoryFormat format) {
    for (const std::string& line : FormatInventory(TakeInventory(), format)) {
        PrintAndLog(stdout, line);
    }
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

// The changes come before the result, so that the result and "nothing was changed" end
// the output as the result ends a real run's.
void PrintPreviewedChanges() {
    std::vector<std::string> changes = DescribeRecordedChanges();
    if (changes.empty()) changes.push_back("would change nothing");
    for (const std::string& line : changes) PrintAndLog(stdout, line);
}

// The module is loaded only around the call: its load and unload lines frame the export's
// own trace.
int CallExport(const Options& options, const Command& command, const CallArguments& arguments) {
    if (!options.quiet || !options.log_path.empty()) StartTraceDisplay();
    HMODULE module = LoadLibraryA(options.module_path.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        FlushTraceEcho();
        return NotCalled("cannot load " + options.module_path, error);
    }
    const FARPROC address = GetProcAddress(module, command.export_name);
    if (!address) {
        const DWORD error = GetLastError();
        FreeLibrary(module);
        FlushTraceEcho();
        return NotCalled(options.module_path + " has no export " + command.export_name, error);
    }
    if (options.what_if) {
        std::string problem;
        const DWORD error = HoldBackChanges(module, &problem);
        if (error != ERROR_SUCCESS) {
            FreeLibrary(module);
            FlushTraceEcho();
            return NotCalled(problem.empty() ? "cannot hold back the module's changes" : problem,
                             error);
        }
    }
    if (command.changes_devices && RunsUnderWow64()) {
        PrintAndLog(stderr, std::string("kvxsetup: this 32-bit build runs on 64-bit Windows, "
                                        "where installing or removing devices needs the 64-bit "
                                        "build; calling ") +
                                command.export_name + " anyway");
    }
    const DWORD result = command.invoke(address, arguments);
    FreeLibrary(module);
    FlushTraceEcho();
    if (options.what_if) PrintPreviewedChanges();
    PrintAndLog(stdout, std::string(command.export_name) + " returned " + DescribeResult(result));
    if (options.what_if) PrintAndLog(stdout, "nothing was changed");
    return static_cast<int>(result);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int next = 1;
    for (; next < argc; ++next) {
        const std::string option = argv[next];
        if (option == "--dll" && next + 1 < argc) {
            options.module_path = argv[++next];
        } else if (option == "--dll") {
            return UsageError("--dll needs a PATH");
        } else if (option == "--log" && next + 1 < argc) {
            options.log_path = argv[++next];
        } else if (option == "--log") {
            return UsageError("--log needs a FILE");
        } else if (option == "--quiet") {
            options.quiet = true;
        } else if (option == "--what-if") {
            options.what_if = true;
        } else {
            break;
        }
    }
    if (options.module_path.empty()) options.module_path = ModuleBesideHost();
    if (next == argc) return UsageError("no command given");

    const std::string name = argv[next];
    if (name == "--help" || name == "-h" || name == "/?") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version") return PrintVersion(options);
    g_show_trace = !options.quiet;
    if (!options.log_path.empty()) {
        const DWORD error = OpenRunLog(options.log_path);
        if (error != ERROR_SUCCESS) {
            return NotCalled("cannot open the log " + options.log_path, error);
        }
        std::string command_line = "kvxsetup";
        for (int i = 1; i < argc; ++i) command_line += std::string(" ") + argv[i];
        LogLine(GetCurrentProcessId(), command_line);
    }
    if (options.what_if && FindCommand(name) == nullptr) {
        return UsageError("--what-if goes with a command that calls an export");
    }
    if (name == "inventory") {
        std::optional<InventoryFormat> format = InventoryFormat::kText;
        if (next + 1 != argc) {
            format = next + 3 == argc && strcmp(argv[next + 1], "--format") == 0
                         ? ParseInventoryFormat(argv[next + 2])
                         : std::nullopt;
        }
        if (!format) return UsageError("inventory takes --format text, csv or json");
        return PrintInventory(*format);
    }
    if (name == "watch") {
        if (next + 1 == argc) return WatchDebugOutput(0);
        const auto seconds = next + 3 == argc && strcmp(argv[next + 1], "--seconds") == 0
                                 ? ParseNumber(argv[next + 2])
                                 : std::nullopt;
        if (!seconds || *seconds == 0 || *seconds > kLongestWatchSeconds) {
            return UsageError("watch takes --seconds N, N from 1 to " +
                              std::to_string(kLongestWatchSeconds));
        }
        return WatchDebugOutput(*seconds);
    }
    const Command* command = FindCommand(name);
    if (!command) {
        return UsageError(name.starts_with("-") ? "unknown option \"" + name + "\""
                                                : "unknown command \"" + name + "\"");
    }
    std::string problem;
    const auto arguments = ReadArguments(*command, argc - next - 1, argv + next + 1, &problem);
    if (!arguments) return UsageError(problem);
    return CallExport(options, *command, *arguments);
}
