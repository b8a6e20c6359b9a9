// Preparing the demo machine in the current Wine prefix (or on a test machine).
#pragma once

#include <string>

// Registers each demo board as a root device without a driver; a board that is already
// registered is left as it is. Prints one line per board; false when one could not be made.
bool RegisterDemoBoards();

// Writes each family's INF into `folder` (created if missing). Prints the paths; false when
// one could not be written.
bool WriteDemoInfs(const std::string& folder);
