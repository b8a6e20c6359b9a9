// kvxsetup watch: a debug-output viewer for installer engineers, who run it beside their
// installer to see the module's trace, and every other program's, as it is written.
#pragma once

#include <windows.h>

// Prints every process's debug-output lines on stdout, each after its writer's process ID,
// until Ctrl+C or, when `seconds` is not 0, until that time has passed. Returns the exit
// code: 0, or ERROR_ALREADY_EXISTS when another viewer owns the channel, or 1 when the
// channel cannot be set up.
int WatchDebugOutput(DWORD seconds);
