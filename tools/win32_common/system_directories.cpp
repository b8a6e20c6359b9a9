#include "win32_common/system_directories.h"

#include <windows.h>

namespace kvxwin {
namespace {

// A path the call could not return whole counts as no path at all.
std::string Directory(UINT(WINAPI* get)(LPSTR, UINT)) {
    char buffer[MAX_PATH] = {};
    const UINT length = get(buffer, sizeof buffer);
    return WithBackslash(std::string(buffer, length < sizeof buffer ? length : 0));
}

}  // namespace

std::string WithBackslash(std::string path) {
    if (path.empty() || path.back() != '\\') path += '\\';
    return path;
}

std::string WindowsDirectory() {
    return Directory(GetWindowsDirectoryA);
}

std::string SystemDirectory() {
    return Directory(GetSystemDirectoryA);
}

}  // namespace kvxwin
