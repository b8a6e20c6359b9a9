// The host's subcommands: one per export of the module, each with the export it calls and
// how its command-line arguments become the export's parameters.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>

// The parameters of one call, read from the command line before the module is loaded.
struct CallArguments {
    std::string text[3];
    DWORD number = 0;
};

enum class TrailingArgument {
    kNone,
    kNumber,   // One optional number after the texts (the copy style).
    kNoForce,  // An optional "--no-force" (the driver update's force flag).
};

struct Command {
    const char* name;
    const char* synopsis;  // The arguments as the usage text shows them.
    const char* summary;
    const char* export_name;
    int text_count;  // Leading text arguments, all required.
    int inf_paths;   // How many of the leading texts are INF paths.
    TrailingArgument trailing;
    DWORD default_number;
    // Reads or changes devices, drivers or driver files, which a 32-bit host under WOW64
    // would see through its own redirected view, and change wrongly.
    bool touches_devices;
    DWORD (*invoke)(FARPROC export_address, const CallArguments& arguments);
};

std::span<const Command> Commands();
const Command* FindCommand(const std::string& name);

// Decimal, or hexadecimal with a 0x prefix; nothing else, and nothing above 32 bits.
std::optional<DWORD> ParseNumber(const char* text);

// The arguments after the subcommand's name; empty with a one-line message in `problem`
// when they do not fit the command.
std::optional<CallArguments> ReadArguments(const Command& command, int count, char** values,
                                           std::string* problem);
