// A driver binary in use, as a running driver or a virus scanner holds one on a customer's
// machine: what makes a removal finish at the next restart.
#pragma once

// Opens `path` without sharing, says so on one line, and keeps it open for `seconds`.
// Returns the system's error when the file cannot be opened, else 0.
unsigned long HoldFileOpen(const char* path, unsigned long seconds);
