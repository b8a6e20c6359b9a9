// --log FILE: what a run showed, kept in a file a customer can send, each line with the
// local date and time and the writing process's ID. Several runs may share one file, at
// the same time too.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Opens FILE for appending, creating it when missing. Returns 0 or the system's error; a
// link at the path is refused (ERROR_ACCESS_DENIED, the reason in *refusal).
DWORD OpenRunLog(const std::string& path, std::string* refusal);

// Appends one line (its own line end, if any, is replaced); does nothing without a log.
void LogLine(DWORD process_id, std::string_view line);

// Prints the line and its line end to `stream`, and logs it.
void PrintAndLog(FILE* stream, const std::string& line);
