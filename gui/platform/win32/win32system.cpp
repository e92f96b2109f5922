// Module resources and the clock on Win32.
#include "gdisurface.h"
#include "win32window.h"

namespace VSTGUI
{
namespace platform
{

namespace
{

// Resource ids are 16-bit: a larger number would silently name another resource.
bool isResourceId(int32_t id)
{
    return id > 0 && id <= 0xFFFF;
}

} // namespace

bool findResource(int32_t id, const char* type, const uint8_t** data, size_t* size)
{
    if (!type || !isResourceId(id)) return false;
    const HMODULE module = moduleInstance();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return false;
    const void* bytes = LockResource(loaded);
    if (!bytes) return false;
    if (data) *data = static_cast<const uint8_t*>(bytes);
    if (size) *size = SizeofResource(module, found);
    return true;
}

std::unique_ptr<Picture> loadBitmapResource(int32_t id)
{
    if (!isResourceId(id)) return nullptr;
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(moduleInstance(), MAKEINTRESOURCEA(id),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return nullptr;
    BITMAP info;
    std::unique_ptr<Picture> picture;
    if (GetObjectA(bitmap, sizeof info, &info) == sizeof info)
        picture = createPicture(info.bmWidth, info.bmHeight, false);
    if (picture)
    {
        HDC from = CreateCompatibleDC(nullptr);
        if (from)
        {
            HGDIOBJ old = SelectObject(from, bitmap);
            BitBlt(static_cast<GdiPicture&>(*picture).source(), 0, 0, info.bmWidth, info.bmHeight,
                   from, 0, 0, SRCCOPY);
            SelectObject(from, old);
            DeleteDC(from);
        }
        else
            picture.reset();
    }
    DeleteObject(bitmap);
    return picture;
}

uint32_t tickCount()
{
    return GetTickCount();
}

void sleepMilliseconds(uint32_t ms)
{
    Sleep(ms);
}

} // namespace platform
} // namespace VSTGUI
