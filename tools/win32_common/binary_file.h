// Writing a file's whole contents in one go.
#pragma once

#include <string>

namespace kvxwin {

// Creates or replaces the file with exactly `bytes`: no line ends are translated, so INF
// text keeps the CR LF it was built with.
bool WriteBinaryFile(const std::string& path, const std::string& bytes);

}  // namespace kvxwin
