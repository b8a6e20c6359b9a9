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
