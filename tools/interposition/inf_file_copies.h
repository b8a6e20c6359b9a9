// Which files a driver package's install puts on the machine, read from its INF as the
// system's own file queue reads it.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

struct FileCopy {
    std::string source;  // In the INF's own folder.
    std::string target;  // Where the install section's CopyFiles put it.
};

// The models sections the [Manufacturer] section names: each name as it stands, and with
// each of its target decorations.
std::vector<std::string> ModelsSections(HINF inf);

// The copies of every install section that an INF's models lines give for the hardware ID;
// none when the INF does not open or does not list the ID.
std::vector<FileCopy> InfFileCopies(const char* inf, const char* hardware_id);
