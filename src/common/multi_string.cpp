#include "common/multi_string.h"

bool MultiStringHasStringAt(const char* data, size_t size, size_t offset) {
    return offset < size && data[offset] != '\0';
}

size_t MultiStringNextOffset(const char* data, size_t size, size_t offset) {
    while (offset < size && data[offset] != '\0') ++offset;
    return offset + 1;
}
