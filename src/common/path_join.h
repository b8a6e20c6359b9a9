// Composing directory and file paths in the module's fixed-size buffers.
#pragma once

#include <stddef.h>

// Appends text to the terminated string in buffer. When the result would not fit, the
// buffer is left as it was and false is returned: a cut path could name another file.
bool AppendText(char* buffer, size_t size, const char* text);

// Makes a directory path of the given length, just returned by the platform, end in a
// backslash, so that names can be joined by plain concatenation.
bool WithTrailingBackslash(char* path, size_t size, size_t length);

// Puts directory followed by name into buffer; false, with buffer empty, when they do not
// fit together.
bool JoinPath(char* buffer, size_t size, const char* directory, const char* name);

// Turns a terminated path whose name ends in ".inf" (any case) into the path of its
// precompiled ".pnf" in place; false, with the path unchanged, for any other name. A
// short-name match such as "oem10.infx" must never become another file to delete.
bool ToPrecompiledInfPath(char* path);
