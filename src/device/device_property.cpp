#include "device/device_property.h"

// Zero bytes kept past the part the platform may fill, so that a string or multi-string
// it left without terminators still ends inside the block.
constexpr DWORD kTerminatorPadding = 2;

// A property that changes between every two queries would otherwise keep the walk asking
// for ever, each time for a larger block.
constexpr int kMostQueries = 8;

void FreePropertyBuffer(PropertyBuffer* buffer) {
    if (buffer->data != nullptr) LocalFree(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
    buffer->filled = 0;
}

const char* PropertyText(const PropertyBuffer& buffer) {
    return buffer.data != nullptr ? reinterpret_cast<const char*>(buffer.data) : "";
}

static bool ReplaceBlock(PropertyBuffer* buffer, DWORD size, char (&message)[kTraceBufferSize]) {
    FreePropertyBuffer(buffer);
    if (size > 0xFFFFFFFFu - kTerminatorPadding) {
        Trace(message, "LocalAlloc failed, err=%d\n", static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
        return false;
    }
    HLOCAL block = LocalAlloc(LMEM_ZEROINIT, size + kTerminatorPadding);
    if (block == nullptr) {
        const DWORD error = GetLastError();
        Trace(message, "LocalAlloc failed, err=%d\n", static_cast<int>(error));
        return false;
    }
    buffer->data = static_cast<BYTE*>(block);
    buffer->size = size;
    return true;
}

PropertyQuery QueryDevicePropertyGrowing(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property,
                                         DWORD size, PropertyBuffer* buffer, DWORD* error,
                                         char (&message)[kTraceBufferSize]) {
    if (size > buffer->size) size = buffer->size;
    for (int query = 0; query < kMostQueries; ++query) {
        DWORD type = 0;
        DWORD required = 0;
        if (SetupDiGetDeviceRegistryPropertyA(devices, device, property, &type, buffer->data, size,
                                              &required)) {
            buffer->filled = required < size ? required : size;
            // The block may still hold a longer earlier property behind the reported bytes.
            if (buffer->data != nullptr) buffer->data[buffer->filled] = 0;
            return PropertyQuery::Filled;
        }
        *error = GetLastError();
        if (*error == ERROR_INVALID_DATA) return PropertyQuery::Missing;
        if (*error != ERROR_INSUFFICIENT_BUFFER) return PropertyQuery::Failed;
        // A platform that keeps asking for no more than it was given would loop forever.
        if (required <= size) return PropertyQuery::Failed;
        if (!ReplaceBlock(buffer, required, message)) return PropertyQuery::OutOfMemory;
        size = required;
    }
    *error = ERROR_INSUFFICIENT_BUFFER;
    return PropertyQuery::Failed;
}
