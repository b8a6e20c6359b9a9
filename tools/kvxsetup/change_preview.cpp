#include "change_preview.h"

#include <algorithm>
#include <array>
#include <set>

namespace {

struct LessIgnoreCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return Fold(x) < Fold(y); });
    }
    static char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
};

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
