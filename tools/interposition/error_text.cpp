#include "interposition/error_text.h"

#include <setupapi.h>

#include <cstdio>

namespace {

// The install export's own value for a missing or empty INF path; no system text fits it.
constexpr DWORD kBadArguments = 0xFFFFFFFF;

struct NamedCode {
    DWORD code;
    const char* name;
};

// SetupAPI's codes have no text in the system's message table, and Wine lacks some of the
// system's: a support engineer can still look the name up.
constexpr NamedCode kNamedCodes[] = {
    {ERROR_SUCCESS_REBOOT_REQUIRED, "ERROR_SUCCESS_REBOOT_REQUIRED"},
    {ERROR_EXPECTED_SECTION_NAME, "ERROR_EXPECTED_SECTION_NAME"},
    {ERROR_GENERAL_SYNTAX, "ERROR_GENERAL_SYNTAX"},
    {ERROR_WRONG_INF_STYLE, "ERROR_WRONG_INF_STYLE"},
    {ERROR_SECTION_NOT_FOUND, "ERROR_SECTION_NOT_FOUND"},
    {ERROR_LINE_NOT_FOUND, "ERROR_LINE_NOT_FOUND"},
    {ERROR_NO_DRIVER_SELECTED, "ERROR_NO_DRIVER_SELECTED"},
    {ERROR_NO_SUCH_DEVINST, "ERROR_NO_SUCH_DEVINST"},
    {ERROR_IN_WOW64, "ERROR_IN_WOW64"},
};

}  // namespace

std::string SystemMessage(DWORD code) {
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string message(text, length < sizeof text ? length : 0);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

std::string DescribeResult(DWORD code) {
    char numbers[40];
    snprintf(numbers, sizeof numbers, "%ld (0x%lx)", static_cast<long>(static_cast<LONG>(code)),
             static_cast<unsigned long>(code));
    std::string text = numbers;
    if (code == kBadArguments) return text + ": bad arguments";
    const std::string message = SystemMessage(code);
    if (!message.empty()) return text + ": " + message;
    for (const NamedCode& named : kNamedCodes) {
        if (named.code == code) return text + ": " + named.name;
    }
    return text + ": (no system message for this code)";
}
