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
    return As<decltype(&KVXSetup_CopyOemInf)>(address)(a.text[0], a.number);
}

// The force value goes through unchanged, so that the module's reading of it (low byte
// only) can be tried from here.
DWORD CallInstallPnpDevice(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_InstallPnpDevice)>(address)(a.text[0], a.text[1],
                                                             static_cast<BOOL>(a.number));
}

DWORD CallPnPInstallKVX(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_PnPInstallKVX)>(address)(a.text[0], a.text[1]);
}

DWORD CallPnPRemoveKVX(FARPROC address, const CallArguments&) {
    return As<decltype(&KVXSetup_PnPRemoveKVX)>(address)();
}

DWORD CallRemoveDevices(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_RemoveDevices)>(address)(a.text[0], a.text[1], a.text[2]);
}

DWORD CallStopService(FARPROC address, const CallArguments& a) {
    return As<decltype(&KVXSetup_StopService)>(address)(a.text[0]);
}

constexpr Command kCommands[] = {
    {"copy-inf", "INF [STYLE]", "stage INF into the INF store (copy style default 0x200)",
     "KVXSetup_CopyOemInf", 1, true, 0x200, CallCopyOemInf},
    {"install-device", "INF HWID [FORCE]",
     "install INF's driver on the devices of HWID (force default 1)", "KVXSetup_InstallPnpDevice",
     2, true, 1, CallInstallPnpDevice},
    {"install", "INF1 INF2", "remove any earlier installation, then install both board families",
     "KVXSetup_PnPInstallKVX", 2, false, 0, CallPnPInstallKVX},
    {"remove", "", "take both board families off the machine", "KVXSetup_PnPRemoveKVX", 0, false, 0,
     CallPnPRemoveKVX},
    {"remove-devices", "SERVICE PREFIX PROVIDER",
     "remove the devices of SERVICE with a hardware ID starting with PREFIX",
     "KVXSetup_RemoveDevices", 3, false, 0, CallRemoveDevices},
    {"stop-service", "NAME", "send the stop control to a service", "KVXSetup_StopService", 1, false,
     0, CallStopService},
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
    const int most = command.text_count + (command.takes_number ? 1 : 0);
    if (count < command.text_count || count > most) {
        *problem = std::string("usage: kvxsetup ") + command.name + " " + command.synopsis;
        return std::nullopt;
    }
    CallArguments arguments;
    for (int i = 0; i < command.text_count; ++i) arguments.text[i] = values[i];
    arguments.number = command.default_number;
    if (count > command.text_count) {
        const std::optional<DWORD> number = ParseNumber(values[command.text_count]);
        if (!number) {
            *problem = std::string("not a number: \"") + values[command.text_count] +
                       "\" (decimal, or hexadecimal with 0x)";
            return std::nullopt;
        }
        arguments.number = *number;
    }
    return arguments;
}
