// Reading one string value under HKEY_LOCAL_MACHINE.
#pragma once

#include <string>

namespace kvxwin {

// The value's text, up to 1023 characters; empty when the key or the value is missing.
std::string ReadHklmString(const std::string& path, const char* value);

}  // namespace kvxwin
