#include "halvernresources.h"

#include <cctype>

namespace
{

bool sameType(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (std::toupper(static_cast<unsigned char>(*a)) !=
            std::toupper(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

} // namespace

bool findHalvernResource(int32_t id, const char* type, const uint8_t** data, size_t* size)
{
    if (!type) return false;
    for (size_t i = 0; i < halvernResourceCount; ++i)
    {
        const HalvernResource& r = halvernResources[i];
        if (r.id == id && sameType(r.type, type))
        {
            if (data) *data = r.data;
            if (size) *size = r.size;
            return true;
        }
    }
    return false;
}
