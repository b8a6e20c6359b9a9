// kvxsetup: calls one export of KVXSETUPW2K.dll from the command line, loading the module by
// name as the product installer does, and shows its trace and its result.
#include <windows.h>

#include <cstdio>
#include <string>

#include "commands.h"
#include "result_report.h"
#include "trace_echo.h"

namespace {

constexpr char kModuleName[] = "KVXSETUPW2K.dll";

// Exit codes: the export's outcome, or that it could not be called at all.
constexpr int kExportSucceeded = 0;
constexpr int kExportFailed = 1;
constexpr int kNotCalled = 2;

void PrintUsage(FILE* to) {
    fprintf(to,
            "usage: kvxsetup COMMAND [ARGUMENTS]\n"
            "Calls one export of %s (loaded by name, from the program's folder or\n"
            "the search path), printing the module's trace as \"trace| \" lines and then\n"
            "the result with its system message.\n\ncommands:\n",
            kModuleName);
    for (const Command& command : Commands()) {
        fprintf(to, "  %s %s\n      %s: %s\n", command.name, command.synopsis, command.export_name,
                command.summary);
    }
    fprintf(to,
            "\nNumbers are decimal, or hexadecimal with 0x. Exit code: 0 when the export\n"
            "returned 0, 1 when it returned anything else, 2 when it was not called\n"
            "(usage error, module or export not found).\n");
}

int Fail(const std::string& message) {
    fflush(stdout);
    fprintf(stderr, "kvxsetup: %s\n", message.c_str());
    return kNotCalled;
}

// The call itself, with the module loaded only around it: its load and unload lines frame
// the export's own trace.
int CallExport(const Command& command, const CallArguments& arguments) {
    StartTraceEcho();
    HMODULE module = LoadLibraryA(kModuleName);
    if (!module) {
        const DWORD error = GetLastError();
        FlushTraceEcho();
        return Fail(std::string("cannot load ") + kModuleName + ": " + DescribeResult(error));
    }
    const FARPROC address = GetProcAddress(module, command.export_name);
    if (!address) {
        const DWORD error = GetLastError();
        FreeLibrary(module);
        FlushTraceEcho();
        return Fail(std::string(kModuleName) + " does not export " + command.export_name + ": " +
                    DescribeResult(error));
    }
    const DWORD result = command.invoke(address, arguments);
    FreeLibrary(module);
    FlushTraceEcho();
    printf("%s returned %s\n", command.export_name, DescribeResult(result).c_str());
    fflush(stdout);
    return result == 0 ? kExportSucceeded : kExportFailed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kNotCalled;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "/?") {
        PrintUsage(stdout);
        return 0;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        PrintUsage(stderr);
        return Fail("unknown command \"" + name + "\"");
    }
    std::string problem;
    const auto arguments = ReadArguments(*command, argc - 2, argv + 2, &problem);
    if (!arguments) return Fail(problem);
    return CallExport(*command, *arguments);
}
