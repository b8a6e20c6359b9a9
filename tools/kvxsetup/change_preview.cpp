#include "change_preview.h"

#include <array>
#include <set>

#include "case_order.h"

namespace {

constexpr const char* kPhrases[] = {
    "would stop service ",         "would delete service ",      "would remove device ",
    "would delete file ",          "would delete registry key ", "would stage INF ",
    "would update the driver of ", "would re-enumerate ",        "would also ",
};

std::array<std::set<std::string, LessIgnoreCase>, std::size(kPhrases)> g_changes;

}  // namespace

void RecordChange(Change change, const std::string& what) {
    g_changes[static_cast<size_t>(change)].insert(what);
}

bool WasRecorded(Change change, const std::string& what) {
    return g_changes[static_cast<size_t>(change)].contains(what);
}

std::vector<std::string> DescribeRecordedChanges() {
    std::vector<std::string> lines;
    for (size_t group = 0; group < g_changes.size(); ++group) {
        for (const std::string& what : g_changes[group]) lines.push_back(kPhrases[group] + what);
    }
    return lines;
}
