// What a loaded module does to the machine, seen from outside it. Its calls that change the
// machine are replaced in its own import table, so every other module of the process is
// left alone. In a preview each change is held back and answered as the system would
// answer it; in a real run each goes through and its outcome is kept. Either way the
// changes read alike, so a preview can be compared with the run that follows it.
//
// Prints nothing and needs no console: a host program or a DLL that loads the module shows
// the lines as it sees fit. The state is the process's own, since the replacements have
// nothing else to hold it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class InterpositionMode {
    kPreview,      // Nothing changes; later reads see the machine as if it had.
    kPassThrough,  // Everything changes as asked; the outcome of each call is kept.
};

// Replaces the module's imports that change the machine. With finish_at_restart (pass-
// through only), a file the module cannot delete because it is in use or locked is
// scheduled for deletion at the next restart instead. Refuses, with the reason in
// `problem` and the imports left as they were, when the module imports a function that is
// neither one of those nor known to only read: its change could be neither held back nor
// reported. Returns 0, ERROR_NOT_SUPPORTED for such a refusal, or the patching's error.
DWORD InterposeMachineChanges(HMODULE module, InterpositionMode mode, bool finish_at_restart,
                              std::string* problem);

// One change asked for, with its outcome. A call that failed because its object was not
// there (a missing file, a service already stopped) changed nothing and refused nothing,
// and is not kept.
struct RecordedChange {
    const char* action;  // "delete file", "stop service", ...: the same in every mode.
    std::string object;  // What it acted on: a path, a service name, a device.
    DWORD error;         // 0 when it happened (or, in a preview, would happen).
};

// Changes first, then refusals; each part grouped by action in a fixed order, each group
// sorted with letter case ignored, and nothing twice.
std::vector<RecordedChange> RecordedChanges();

// What the module could not open to read, and so left alone ("skip" each), sorted.
std::vector<RecordedChange> RecordedSkips();

// One line each, in the order above, then the skips. A real run's read "deleted file X" and
// "could not delete file X: 32 (0x20): <the system's message>"; a preview's
// "would delete file X" and "would fail to delete file X: 32 (0x20): ...". A skip reads
// the same in both: "skipped X: in use by another process (32)".
std::vector<std::string> DescribeRecordedChanges();

// "2 changes, 1 refused" or "would make 2 changes, 1 would be refused", followed by
// ", 1 skipped" when something was.
std::string SummarizeRecordedChanges();

// Ends a real run that finishes at restart, once the export has returned: a file the
// module could not delete because it is in use is scheduled for deletion at the next
// restart, unless the run put it back (a file the install could not replace is already
// scheduled to be renamed over it then). Nothing to do in other runs.
void ScheduleHeldBackDeletions();

// True when the changes of a real run finish only at the next restart: a file scheduled
// for deletion or replacement then, a deleted file still there because another handle holds
// it, a service the module deleted or tried to delete that is still registered (it is
// marked for deletion), a device whose removal or driver update asked for a restart. One
// line per reason.
bool RestartNeeded(std::vector<std::string>* reasons);

// Starts over, for a second call in the same process.
void ForgetRecordedChanges();
