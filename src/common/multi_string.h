// Walking a multi-string (strings each ended by a terminator, the list ended by an empty
// string) by offsets. The data's size, not its terminators, bounds the walk: some
// platforms report a multi-string longer than its double terminator, others return one
// without terminators at all.
#pragma once

#include <stddef.h>

// True while the string at offset starts inside the data and is not the closing empty one.
bool MultiStringHasStringAt(const char* data, size_t size, size_t offset);

// Offset of the string after the one at offset; at or past size when there is none.
size_t MultiStringNextOffset(const char* data, size_t size, size_t offset);
