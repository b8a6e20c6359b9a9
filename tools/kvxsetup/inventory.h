// What of the product is on the machine now, read without changing anything.
#pragma once

#include <string>
#include <vector>

// One line per item, in this order: the devices with a hardware ID of the catalogue, the
// product's services, the image paths of the two driver service keys, the product's INFs
// in the INF store, the driver binaries. Each group is sorted; a group with nothing to
// show still has one line saying so.
std::vector<std::string> TakeInventory();
