// Comparisons of service names, provider names, hardware IDs and INF header lines.
// Only the letters A-Z are folded; every other byte compares as it is.
#pragma once

#include <stddef.h>

// Compares at most n characters and stops early at a terminator in either string. The
// text's bytes from textSize on count as a terminator, so data the platform returned
// without one is never read past its end.
bool EqualsIgnoreCaseBounded(const char* text, size_t textSize, const char* other, size_t n);

// Whole strings.
bool EqualsIgnoreCase(const char* a, const char* b);

// At most n characters: with n the length of b, true when a begins with b.
bool EqualsIgnoreCaseN(const char* a, const char* b, size_t n);
