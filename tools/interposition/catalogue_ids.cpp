#include "interposition/catalogue_ids.h"

#include <cstring>
#include <span>

#include "catalog/catalog.h"
#include "common/case_insensitive.h"

const char* CatalogueIdMatching(const std::vector<std::string>& hardware_ids) {
    for (const std::string& id : hardware_ids) {
        for (const auto& family : {std::span<const char* const>(Dz4xHardwareIds),
                                   std::span<const char* const>(HxHardwareIds)}) {
            for (const char* known : family) {
                if (EqualsIgnoreCaseN(id.c_str(), known, strlen(known))) return known;
            }
        }
    }
    return nullptr;
}
