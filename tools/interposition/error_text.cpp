#include "interposition/error_text.h"

#include <cstdio>

namespace {

// The install export's own value for a missing or empty INF path; no system text fits it.
constexpr DWORD kBadArguments = 0xFFFFFFFF;

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
    return text + ": " + (message.empty() ? "(no system message for this code)" : message);
}
