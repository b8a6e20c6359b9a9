#include "entry/image_path_test.h"

#include "catalog/catalog.h"
#include "common/platform.h"

static bool IsUsableImagePath(HKEY key) {
    // Zeroed, and only the bytes the registry returned are looked at: an empty or
    // one-byte value is usable.
    BYTE value[260] = {};
    DWORD type = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, ImagePathValueName, nullptr, &type, value, &size) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD returned = size < sizeof value ? size : sizeof value;
    return !(returned >= 2 && value[0] == '\\' && value[1] == '?');
}

bool HasUsableImagePath(const char* serviceKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serviceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    const bool usable = IsUsableImagePath(key);
    RegCloseKey(key);
    return usable;
}
