#include "common/case_insensitive.h"

#include <stdint.h>

static char FoldLetter(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCaseBounded(const char* text, size_t textSize, const char* other, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const char a = i < textSize ? text[i] : '\0';
        const char b = other[i];
        if (FoldLetter(a) != FoldLetter(b)) return false;
        if (a == '\0') return true;
    }
    return true;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
    return EqualsIgnoreCaseBounded(a, SIZE_MAX, b, SIZE_MAX);
}

bool EqualsIgnoreCaseN(const char* a, const char* b, size_t n) {
    return EqualsIgnoreCaseBounded(a, SIZE_MAX, b, n);
}
