// Resources linked into the library as data (see resources/): only "PNG" pictures exist.
#include "../platform.h"

#include "halvernresources.h"

namespace VSTGUI
{
namespace platform
{

bool findResource(int32_t id, const char* type, const uint8_t** data, size_t* size)
{
    return findHalvernResource(id, type, data, size);
}

std::unique_ptr<Picture> loadBitmapResource(int32_t)
{
    return nullptr;
}

} // namespace platform
} // namespace VSTGUI
