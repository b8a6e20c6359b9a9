// How the host and the change report show an error code.
#pragma once

#include <windows.h>

#include <string>

// "0 (0x0): The operation completed successfully." and the like: the code in decimal and
// hexadecimal, or in hexadecimal alone when its top bit is set ("0xe0000203: ..."), then the
// system's message for it; SetupAPI's codes, which the system has no text for, as a
// sentence with the code's name after it.
std::string DescribeResult(DWORD code);

// The text alone: the system's message, the sentence and name of a SetupAPI code, or what
// the host's calls use -1 for.
std::string ResultText(DWORD code);

// The system's text for an error code, without its line break; empty when it has none.
std::string SystemMessage(DWORD code);
