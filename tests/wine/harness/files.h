// Files of the test machine: the directories the module works in and plain file access.
#pragma once

#include <string>
#include <vector>

#include "win32_common/binary_file.h"
#include "win32_common/system_directories.h"

namespace kvxtest {

// Each ends in a backslash.
using kvxwin::WindowsDirectory;
std::string InfDirectory();      // <windows>\inf\ .
std::string DriversDirectory();  // <system>\drivers\ .
// A directory of the tests' own (created on first use) for source INFs and the like.
std::string ScratchDirectory();

using kvxwin::WriteBinaryFile;
bool ReadBinaryFile(const std::string& path, std::string* bytes);
bool FileExists(const std::string& path);
// Names (not paths) of the files in `directory` that match `pattern`, as the platform's
// search reports them.
std::vector<std::string> ListFiles(const std::string& directory, const std::string& pattern);

// The final component of a path.
std::string BaseName(const std::string& path);
std::string ToLower(std::string text);

}  // namespace kvxtest
