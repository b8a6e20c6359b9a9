// The demo machine's boards and driver packages: what the product finds on a customer's
// machine, made up from the product's own catalogue.
#pragma once

#include <span>
#include <string>
#include <vector>

struct DemoFamily {
    const char* inf_file;     // Name of the demo INF in the folder it is written to.
    const char* service;      // AddService name, as the devices report it afterwards.
    const char* binary;       // Driver binary the service points at.
    const char* description;  // Device description the INF gives its boards.
    std::span<const char* const> hardware_ids;
};

struct DemoBoard {
    const char* name;  // Registered as Root\<name>\0000.
    std::vector<std::string> hardware_ids;
};

std::span<const DemoFamily> DemoFamilies();
std::span<const DemoBoard> DemoBoards();

// The full text of a family's INF, CR LF line ends, starting with `header_line` (one of the
// product's), for a driver of `driver_version` ("mm/dd/yyyy,w.x.y.z").
std::string DemoInfText(const DemoFamily& family, const char* header_line,
                        const char* driver_version);
