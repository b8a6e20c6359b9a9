// How the host and the change report show an error code.
#pragma once

#include <windows.h>

#include <string>

// "0 (0x0): The operation completed successfully." and the like: the code in decimal (signed,
// as the module's trace shows errors) and hexadecimal, then the system's message for it,
// or the name of a code the system has no text for (SetupAPI's).
std::string DescribeResult(DWORD code);

// The system's text for an error code, without its line break; empty when it has none.
std::string SystemMessage(DWORD code);
