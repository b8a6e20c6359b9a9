#include "common/path_join.h"

#include <string.h>

#include "catalog/catalog.h"
#include "common/case_insensitive.h"

bool AppendText(char* buffer, size_t size, const char* text) {
    size_t used = 0;
    while (used < size && buffer[used] != '\0') ++used;
    const size_t added = strlen(text);
    if (used >= size || added >= size - used) return false;
    memcpy(buffer + used, text, added + 1);
    return true;
}

bool WithTrailingBackslash(char* path, size_t size, size_t length) {
    if (length >= size) return false;
    path[length] = '\0';
    if (length > 0 && path[length - 1] == '\\') return true;
    return AppendText(path, size, "\\");
}

bool JoinPath(char* buffer, size_t size, const char* directory, const char* name) {
    if (size == 0) return false;
    buffer[0] = '\0';
    if (AppendText(buffer, size, directory) && AppendText(buffer, size, name)) return true;
    buffer[0] = '\0';
    return false;
}

bool ToPrecompiledInfPath(char* path) {
    const size_t length = strlen(path);
    if (length < 4 || !EqualsIgnoreCaseN(path + length - 4, ".inf", 4)) return false;
    memcpy(path + length - 3, PrecompiledInfExtension, 3);
    return true;
}
