#include "commands.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <kvxsetupw2k.h>

namespace {

// The exports are found by name at run time, as the product installer finds them; the
// header only lends their exact types.
template <typename Function>
Function As(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

DWORD CallCopyOemInf(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_CopyOemInf)>(address)(a.text[0].c_str(), a.number);
}

DWORD CallInstallPnpDevice(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_InstallPnpDevice)>(address)(a.text[0].c_str(), a.text[1].c_str(),
                                                             static_cast<BOOL>(a.number));
}

DWORD CallPnPInstallKVX(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_PnPInstallKVX)>(address)(a.text[0].c_str(), a.text[1].c_str());
}

DWORD CallPnPRemoveKVX(FARPROC address, const CallArguments&) {
    return As<decltype(&KVXSetup_PnPRemoveKVX)>(address)();
}

DWORD CallRemoveDevices(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_RemoveDevices)>(address)(a.text[0].c_str(), a.text[1].c_str(),
                                                          a.text[2].c_str());
}

DWORD CallStopService(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_StopService)>(address)(a.text[0].c_str());
}

constexpr Command kCommands[] = {
    {"install", "FIRST_INF SECOND_INF",
     "remove any earlier installation, then install both board families", "KVXSetup_PnPInstallKVX",
     2, 2, TrailingArgument::kNone, 0, true, CallPnPInstallKVX},
    {"remove", "", "take both board families off the machine", "KVXSetup_PnPRemoveKVX", 0, 0,
     TrailingArgument::kNone, 0, true, CallPnPRemoveKVX},
    {"copy-inf", "INF [COPY_STYLE]", "stage INF into the INF store (copy style default 0x200)",
     "KVXSetup_CopyOemInf", 1, 1, TrailingArgument::kNumber, 0x200, true, CallCopyOemInf},
    {"install-device", "INF HARDWARE_ID [--no-force]",
     "install INF's driver on every device of HARDWARE_ID (forced unless --no-force)",
     "KVXSetup_InstallPnpDevice", 2, 1, TrailingArgument::kNoForce, TRUE, true,
     CallInstallPnpDevice},
    {"remove-devices", "SERVICE PREFIX PROVIDER",
     "remove the devices of SERVICE with a hardware ID starting with PREFIX",
     "KVXSetup_RemoveDevices", 3, 0, TrailingArgument::kNone, 0, true, CallRemoveDevices},
    {"stop-service", "NAME", "send the stop control to a service", "KVXSetup_StopService", 1, 0,
     TrailingArgument::kNone, 0, false, CallStopService},
};

}  // namespace

std::span<const Command> Commands() {
    return kCommands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

std::optional<DWORD> ParseNumber(const char* text) {
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    // strtoul would accept a sign and leading blanks; a typo should not become a value.
    if (!*digits || !strchr("0123456789abcdefABCDEF", *digits)) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = strtoull(digits, &end, hex ? 16 : 10);
    if (errno || *end || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<DWORD>(value);
}

std::optional<CallArguments> ReadArguments(const Command& command, int count, char** values,
                                           std::string* problem) {
    CallArguments arguments;
    arguments.number = command.default_number;
    int texts = 0;
    bool trailing_seen = false;
    for (int i = 0; i < count; ++i) {
        const char* value = values[i];
        const bool no_force = strcmp(value, "--no-force") == 0;
        if (command.trailing == TrailingArgument::kNoForce && no_force && !trailing_seen) {
            arguments.number = FALSE;
            trailing_seen = true;
        } else if (strncmp(value, "--", 2) == 0) {
            // Never a path, a name or a number: a misplaced option must not become one.
            *problem = std::string(no_force && trailing_seen
                                       ? "--no-force given twice"
                                       : "unknown option \"" + std::string(value) + "\"") +
                       " for " + command.name + "; usage: kvxsetup " + command.name + " " +
                       command.synopsis;
            return std::nullopt;
        } else if (texts < command.text_count) {
            arguments.text[texts++] = value;
        } else if (command.trailing == TrailingArgument::kNumber && !trailing_seen) {
            const std::optional<DWORD> number = ParseNumber(value);
            if (!number) {
                *problem = std::string("not a number: \"") + value +
                           "\" (decimal, or hexadecimal with 0x)";
                return std::nullopt;
            }
            arguments.number = *number;
            trailing_seen = true;
        } else {
            *problem = std::string("too many arguments for ") + command.name + ": \"" + value +
                       "\"; usage: kvxsetup " + command.name + " " + command.synopsis;
            return std::nullopt;
        }
    }
    if (texts < command.text_count) {
        *problem = std::string("missing arguments for ") + command.name + "; usage: kvxsetup " +
                   command.name + " " + command.synopsis;
        return std::nullopt;
    }
    return arguments;
}
