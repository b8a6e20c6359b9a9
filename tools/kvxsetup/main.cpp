// kvxsetup: calls one export of KVXSETUPW2K.dll from the command line, loading the module by
// name as the product installer does, and shows its trace and its result.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "debug_output_watch.h"
#include "inventory.h"
#include "module_file.h"
#include "result_report.h"
#include "trace_echo.h"

namespace {

constexpr char kHostVersion[] = "1.0.0.0";

// Exit codes besides the export's own result.
constexpr int kUsageError = 1;

// A week; the watch's time is counted in milliseconds in 32 bits.
constexpr DWORD kLongestWatchSeconds = 7 * 24 * 60 * 60;

struct Options {
    std::string module_path;
    bool quiet = false;
};

void PrintUsage(FILE* to) {
    fprintf(to,
            "usage: kvxsetup [--dll PATH] [--quiet] COMMAND [ARGUMENTS]\n"
            "       kvxsetup inventory | watch [--seconds N] | --help | --version\n"
            "\n"
            "Calls one export of %s and prints its result (decimal, hexadecimal and\n"
            "the system's message) on stdout; the module's trace goes to stderr as it is\n"
            "written. The module is loaded from kvxsetup.exe's folder unless --dll names it;\n"
            "--quiet leaves the trace out.\n\ncommands:\n",
            kModuleName);
    for (const Command& command : Commands()) {
        fprintf(to, "  %s %s\n      %s: %s\n", command.name, command.synopsis, command.export_name,
                command.summary);
    }
    fprintf(to,
            "  inventory\n"
            "      list what of the product is on the machine now (changes nothing)\n"
            "  watch [--seconds N]\n"
            "      print every process's debug output with its process ID, until Ctrl+C\n"
            "      or for N seconds\n"
            "\n"
            "Numbers are decimal, or hexadecimal with 0x. Exit code: the export's result\n"
            "(0 for success); 1 for a usage error; the system's error code when the module\n"
            "cannot be loaded or lacks the export.\n");
}

int UsageError(const std::string& problem) {
    fprintf(stderr, "kvxsetup: %s\n\n", problem.c_str());
    PrintUsage(stderr);
    return kUsageError;
}

// A failure before the export ran: one line, and the system's code as the exit code.
int NotCalled(const std::string& what, DWORD error) {
    fflush(stdout);
    fprintf(stderr, "kvxsetup: %s: %s\n", what.c_str(), DescribeResult(error).c_str());
    return error ? static_cast<int>(error) : kUsageError;
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

int PrintInventory() {
    for (const std::string& line : TakeInventory()) printf("%s\n", line.c_str());
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

void PrintTraceLine(DWORD, std::string_view line) {
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

void StartTraceDisplay() {
    switch (StartTraceEcho(TraceWriters::kThisProcess, PrintTraceLine)) {
        case TraceDisplay::kListening:
            break;
        case TraceDisplay::kOtherViewer:
            fprintf(stderr,
                    "kvxsetup: another debug-output viewer is running; the trace shows "
                    "there, not here\n");
            break;
        case TraceDisplay::kUnavailable:
            fprintf(stderr,
                    "kvxsetup: cannot listen on the debug output; the trace is not shown\n");
            break;
    }
}

// The module is loaded only around the call: its load and unload lines frame the export's
// own trace.
int CallExport(const Options& options, const Command& command, const CallArguments& arguments) {
    if (!options.quiet) StartTraceDisplay();
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
    if (command.changes_devices && RunsUnderWow64()) {
        fprintf(stderr,
                "kvxsetup: this 32-bit build runs on 64-bit Windows, where installing or "
                "removing devices needs the 64-bit build; calling %s anyway\n",
                command.export_name);
    }
    const DWORD result = command.invoke(address, arguments);
    FreeLibrary(module);
    FlushTraceEcho();
    printf("%s returned %s\n", command.export_name, DescribeResult(result).c_str());
    fflush(stdout);
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
        } else if (option == "--quiet") {
            options.quiet = true;
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
    if (name == "inventory") {
        if (next + 1 != argc) return UsageError("inventory takes no arguments");
        return PrintInventory();
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
