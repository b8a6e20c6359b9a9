// The host's command line: options that shape the whole run go before the command word,
// the command's own options after it, and no word that begins with "--" is ever taken as a
// path, name or number. A run that would otherwise do something the user did not ask for,
// such as a real removal instead of a preview, ends as a usage error before anything runs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "commands.h"
#include "inventory_format.h"

struct CommandLine {
    std::string module_path;  // Empty: the module beside the host.
    std::string log_path;
    std::string report_path;
    bool quiet = false;
    bool what_if = false;
    bool finish_at_restart = false;
    bool check_only = false;  // Parse, say so, and do nothing else.

    // "install", "inventory", "watch", "--help", "--version" and so on.
    std::string command_name;
    const Command* command = nullptr;  // The export's command; null for the host's own.
    CallArguments arguments;
    InventoryFormat format = InventoryFormat::kText;
    DWORD watch_seconds = 0;  // 0: until Ctrl+C.
};

// The longest watch: its time is counted in milliseconds in 32 bits.
inline constexpr DWORD kLongestWatchSeconds = 7 * 24 * 60 * 60;

// Empty, with a one-line message in `problem`, for a usage error.
std::optional<CommandLine> ParseCommandLine(int argc, char** argv, std::string* problem);
