// What of the product is on the machine now, read without changing anything.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One property of an item, under a name that stays the same from release to release, in
// English, never localised.
struct InventoryField {
    const char* name;
    std::optional<std::string> value;  // Empty: the item has no such thing.
    bool number;
};

struct InventoryItem {
    const char* kind;  // "device", "service", "image_path", "inf", "driver"
    std::vector<InventoryField> fields;
    std::string line;  // The item as the text inventory shows it.
};

struct InventoryGroup {
    const char* name;  // "devices", "services", "image_paths", "infs", "drivers"
    std::vector<InventoryItem> items;
    std::string line_when_empty;  // Empty for the groups that always have items.
    std::string error;            // Why the group could not be read; its items are then none.
};

// In this order: the devices with a hardware ID of the catalogue, the product's services,
// the image paths of the two driver service keys, the product's INFs in the INF store, the
// driver binaries. The items of each group are sorted by their line.
std::vector<InventoryGroup> TakeInventory();
