#include "interposition/error_text.h"

#include <setupapi.h>

#include <cstdio>

namespace {

// The install export's own value for a missing or empty INF path; no system text fits it.
constexpr DWORD kBadArguments = 0xFFFFFFFF;

struct NamedCode {
    DWORD code;
    const char* name;
    const char* sentence;
};

// SetupAPI's codes have no text in the system's message table on Windows 2000, and Wine
// lacks some of the system's: each reads as a sentence, and the name after it lets a
// support engineer look it up.
constexpr NamedCode kNamedCodes[] = {
    {ERROR_SUCCESS_REBOOT_REQUIRED, "ERROR_SUCCESS_REBOOT_REQUIRED",
     "The operation succeeded; a restart is needed to finish it."},
    {ERROR_EXPECTED_SECTION_NAME, "ERROR_EXPECTED_SECTION_NAME",
     "A line of the INF file is outside any section."},
    {ERROR_BAD_SECTION_NAME_LINE, "ERROR_BAD_SECTION_NAME_LINE",
     "A section name line of the INF file is malformed."},
    {ERROR_SECTION_NAME_TOO_LONG, "ERROR_SECTION_NAME_TOO_LONG",
     "A section name of the INF file is too long."},
    {ERROR_GENERAL_SYNTAX, "ERROR_GENERAL_SYNTAX", "The INF file has a syntax error."},
    {ERROR_WRONG_INF_STYLE, "ERROR_WRONG_INF_STYLE",
     "The INF file is not of the style that was asked for."},
    {ERROR_SECTION_NOT_FOUND, "ERROR_SECTION_NOT_FOUND",
     "A section the INF file should have is not in it."},
    {ERROR_LINE_NOT_FOUND, "ERROR_LINE_NOT_FOUND", "A line the INF file should have is not in it."},
    {ERROR_NO_ASSOCIATED_CLASS, "ERROR_NO_ASSOCIATED_CLASS",
     "The INF file or the device has no setup class."},
    {ERROR_NO_DRIVER_SELECTED, "ERROR_NO_DRIVER_SELECTED",
     "No driver was selected: the INF file has none for the device."},
    {ERROR_NO_INF, "ERROR_NO_INF", "The INF file for the driver was not found."},
    {ERROR_NO_SUCH_DEVINST, "ERROR_NO_SUCH_DEVINST",
     "No device on the machine has the hardware ID."},
    {ERROR_INVALID_CLASS_INSTALLER, "ERROR_INVALID_CLASS_INSTALLER",
     "The class installer of the device is not valid."},
    {ERROR_DI_DO_DEFAULT, "ERROR_DI_DO_DEFAULT",
     "The class installer asked for the default action."},
    {ERROR_DI_DONT_INSTALL, "ERROR_DI_DONT_INSTALL",
     "The class installer declined to install the driver."},
    {ERROR_NON_WINDOWS_NT_DRIVER, "ERROR_NON_WINDOWS_NT_DRIVER",
     "The driver package is not for Windows NT."},
    {ERROR_NO_CATALOG_FOR_OEM_INF, "ERROR_NO_CATALOG_FOR_OEM_INF",
     "The INF file names no catalog file for its signature."},
    {ERROR_CANT_REMOVE_DEVINST, "ERROR_CANT_REMOVE_DEVINST", "The device cannot be removed."},
    {ERROR_IN_WOW64, "ERROR_IN_WOW64",
     "A 32-bit program cannot install or change devices on 64-bit Windows."},
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

std::string ResultText(DWORD code) {
    if (code == kBadArguments) return "bad arguments";
    const NamedCode* named = nullptr;
    for (const NamedCode& candidate : kNamedCodes) {
        if (candidate.code == code) named = &candidate;
    }
    // SetupAPI's own codes read the same on every system; the others in the system's words.
    const bool setup_code = (code & 0xE0000000) == 0xE0000000;
    const std::string message = setup_code && named ? "" : SystemMessage(code);
    if (!message.empty()) return message;
    if (named) return std::string(named->sentence) + " (" + named->name + ")";
    return "(no system message for this code)";
}

std::string DescribeResult(DWORD code) {
    // Codes with the top bit set (SetupAPI's, the install export's -1) read better in
    // hexadecimal alone than as large or negative decimals.
    char numbers[40];
    if (code & 0x80000000) {
        snprintf(numbers, sizeof numbers, "0x%08lx", static_cast<unsigned long>(code));
    } else {
        snprintf(numbers, sizeof numbers, "%lu (0x%lx)", static_cast<unsigned long>(code),
                 static_cast<unsigned long>(code));
    }
    return std::string(numbers) + ": " + ResultText(code);
}
