// The order of the host's sorted listings: letters A-Z folded, as the system and the module
// compare names, so that "Hx" and "HX" sort together and count as one.
#pragma once

#include <algorithm>
#include <string>

struct LessIgnoreCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return Fold(x) < Fold(y); });
    }
    static char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
};
