// The platform's directories, as paths that names can be appended to.
#pragma once

#include <string>

namespace kvxwin {

// `path` ending in a backslash; one is added only when it is missing.
std::string WithBackslash(std::string path);

// Each ends in a backslash.
std::string WindowsDirectory();
std::string SystemDirectory();

}  // namespace kvxwin
