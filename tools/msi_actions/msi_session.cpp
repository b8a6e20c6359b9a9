#include "msi_session.h"

#include <stdarg.h>
#include <stdio.h>

#include <vector>

void LogToInstallation(MSIHANDLE install, const std::string& line) {
    MSIHANDLE record = MsiCreateRecord(1);
    if (!record) return;
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, line.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

std::string ReadProperty(MSIHANDLE install, const char* name) {
    char empty[1] = "";
    DWORD length = 0;
    if (MsiGetPropertyA(install, name, empty, &length) != ERROR_MORE_DATA) return {};
    // The length comes back without the terminator, which the buffer needs as well.
    std::vector<char> value(length + 1);
    length = static_cast<DWORD>(value.size());
    if (MsiGetPropertyA(install, name, value.data(), &length) != ERROR_SUCCESS) return {};
    return std::string(value.data(), length);
}

std::string FormatText(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    const int written = _vsnprintf(text, sizeof text - 1, format, arguments);
    va_end(arguments);
    // msvcrt's _vsnprintf leaves the buffer unterminated when the text does not fit.
    text[written < 0 ? sizeof text - 1 : static_cast<size_t>(written)] = '\0';
    return text;
}

std::string DescribeResult(DWORD code) {
    std::string text = FormatText("%ld (0x%08lx)", static_cast<long>(static_cast<LONG>(code)),
                                  static_cast<unsigned long>(code));
    // The module's own code for a missing INF path, which no system message describes.
    if (code == static_cast<DWORD>(-1)) return text + ": bad arguments";
    char message[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, message, sizeof message, nullptr);
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                          message[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) return text + ": (no system message for this code)";
    return text + ": " + std::string(message, length);
}
