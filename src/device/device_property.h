// A device's registry property read into a block of the local heap, regrown until the
// platform's answer fits.
#pragma once

#include "common/platform.h"
#include "entry/trace.h"

struct PropertyBuffer {
    BYTE* data;    // LocalAlloc'ed, zero-filled; NULL before the first query
    DWORD size;    // bytes the platform may fill; the block holds two more zero bytes
    DWORD filled;  // bytes the last successful query reported, never more than size
};

enum class PropertyQuery { Filled, Missing, Failed, OutOfMemory };

// Queries the property with the buffer's current block and size, and while the platform
// answers ERROR_INSUFFICIENT_BUFFER replaces the block with one of the reported size, a few
// times at most. On Filled, a terminator follows the reported bytes. On Failed, *error
// holds the platform's error (ERROR_INSUFFICIENT_BUFFER when the size never settled);
// OutOfMemory has already been traced.
PropertyQuery QueryDevicePropertyGrowing(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property,
                                         DWORD size, PropertyBuffer* buffer, DWORD* error,
                                         char (&message)[kTraceBufferSize]);

void FreePropertyBuffer(PropertyBuffer* buffer);

// The filled bytes as text. A property of length 0 is answered without a block ever being
// taken, so it reads as the empty string instead of NULL.
const char* PropertyText(const PropertyBuffer& buffer);
