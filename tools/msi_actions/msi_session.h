// The running installation as a custom action sees it: its log and its properties.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

// Writes one line into the installation's log (what msiexec /l*v records). The text goes
// in as a field, not as the record's template, so brackets in a path or a trace line are
// never taken for property references.
void LogToInstallation(MSIHANDLE install, const std::string& line);

// The property's value, or empty when it is unset or cannot be read.
std::string ReadProperty(MSIHANDLE install, const char* name);

// printf-style text through msvcrt's _vsnprintf, cut at 1023 characters.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
