// The pictures linked into the library: resource id, type and bytes of each PNG file.
#pragma once

#include <cstddef>
#include <cstdint>

struct HalvernResource
{
    int32_t id;
    const char* type;
    const unsigned char* data;
    size_t size;
};

extern const HalvernResource halvernResources[];
extern const size_t halvernResourceCount;

// Finds resource id of type (compared without regard to case, as resource types are).
bool findHalvernResource(int32_t id, const char* type, const uint8_t** data, size_t* size);
