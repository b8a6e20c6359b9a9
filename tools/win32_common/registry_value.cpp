#include "win32_common/registry_value.h"

#include <windows.h>

namespace kvxwin {

std::string ReadHklmString(const std::string& path, const char* value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    // One byte short of the buffer, so that the text ends even when the stored value does not.
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    const LONG status =
        RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(data) : std::string();
}

}  // namespace kvxwin
