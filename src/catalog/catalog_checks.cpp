// The catalogue's promises, checked when the module is compiled.
#include "catalog/catalog.h"

static constexpr size_t Length(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

static constexpr bool StartsWith(const char* text, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (text[i] != prefix[i]) return false;
    }
    return true;
}

static constexpr bool StartsWithRemovalPrefix(const char* id) {
    for (const char* prefix : HxRemovalPrefixes) {
        if (StartsWith(id, prefix)) return true;
    }
    return false;
}

static constexpr bool EveryHxIdHasRemovalPrefix() {
    for (const char* id : HxHardwareIds) {
        if (!StartsWithRemovalPrefix(id)) return false;
    }
    return true;
}

static constexpr bool NoDz4xIdHasRemovalPrefix() {
    for (const char* id : Dz4xHardwareIds) {
        if (StartsWithRemovalPrefix(id)) return false;
    }
    return true;
}

static constexpr bool EveryHeaderLineHasHeaderLength() {
    for (const char* line : InfHeaderLines) {
        if (Length(line) != kInfHeaderLength) return false;
    }
    return true;
}

static_assert(sizeof Dz4xHardwareIds / sizeof Dz4xHardwareIds[0] == 12);
static_assert(sizeof HxHardwareIds / sizeof HxHardwareIds[0] == 15);
static_assert(sizeof HxRemovalPrefixes / sizeof HxRemovalPrefixes[0] == 2);
static_assert(sizeof InfHeaderLines / sizeof InfHeaderLines[0] == 5);
static_assert(EveryHxIdHasRemovalPrefix());
static_assert(NoDz4xIdHasRemovalPrefix());
static_assert(EveryHeaderLineHasHeaderLength());
