// What a call changed and refused, as the host shows it and as fleet tools read it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The facts of one call that the JSON report carries besides its changes.
struct CallFacts {
    std::string command;      // "remove"
    std::string export_name;  // "KVXSetup_PnPRemoveKVX"
    DWORD result;             // What the export returned.
    bool preview;
    std::vector<std::string> restart_reasons;
    int exit_code;
};

// The change lines, then the summary; on stdout unless `show` is false, logged either way.
void PrintChangeReport(bool show);

// Opens FILE for the JSON report, replacing it, before anything is called: a report that
// cannot be written must not cost a run. Returns 0 or the system's error; a link at the
// path is refused (ERROR_ACCESS_DENIED, the reason in *refusal).
DWORD OpenChangeReport(const std::string& path, std::string* refusal);

// Closes and deletes the report file opened: a call that never happened has no report, and
// an empty file would read as a broken one.
void DiscardChangeReport();

// Writes the report as UTF-8 JSON into the file opened, and closes it. Returns 0 or the
// system's error.
DWORD WriteChangeReport(const CallFacts& facts);
