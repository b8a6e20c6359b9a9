// The product's hardware IDs, as the module's removal compares them.
#pragma once

#include <string>
#include <vector>

// The catalogue's hardware ID that one of these begins with (letters A-Z folded, as the
// module's removal compares); null when none does.
const char* CatalogueIdMatching(const std::vector<std::string>& hardware_ids);
