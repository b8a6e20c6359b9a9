// What an earlier release of the product leaves on a customer's machine, for the install
// and the removal to clear away.
#pragma once

#include <string>

// Leaves what an uninstalled earlier release would: its staged INFs, its driver services
// and binaries, the service of the release before it with its event-log source, and the
// product's own INF in the INF store. Its driver is not on the boards: removing a board
// that has one deletes it, and a root device, unlike a PCI board, never comes back.
// Prints one line per step; false when a step failed.
bool InstallEarlierRelease();
