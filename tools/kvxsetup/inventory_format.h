// The inventory as people read it, and as programs read it: fleet tools collect it from
// many machines, so the machine formats keep their field names and never translate values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inventory.h"

enum class InventoryFormat { kText, kCsv, kJson };

// "text", "csv" or "json"; empty for anything else.
std::optional<InventoryFormat> ParseInventoryFormat(const std::string& name);

// The output's lines, without line ends. Text is in the ANSI code page as the system gave
// it; CSV and JSON are UTF-8.
std::vector<std::string> FormatInventory(const std::vector<InventoryGroup>& groups,
                                         InventoryFormat format);

// Names, paths and headers come from the system in the ANSI code page; the machine formats
// are UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
