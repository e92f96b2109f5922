#include "cbitmap.h"

#include "cdrawcontext.h"
#include "platform/platform.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace VSTGUI
{

namespace
{

struct MemoryReader
{
    const uint8_t* data;
    size_t size;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    // A short read must stop the decoder rather than leave it reading stale bytes.
    if (length > reader->size - reader->position)
        png_error(png, "read past the end of the picture");
    std::memcpy(out, reader->data + reader->position, length);
    reader->position += length;
}

// (c * a) >> 8 on purpose: an opaque 255 becomes 254, as the blend expects.
void premultiply(platform::Picture& picture)
{
    for (int32_t y = 0; y < picture.height(); ++y)
    {
        uint8_t* p = picture.row(y);
        for (int32_t x = 0; x < picture.width(); ++x, p += 4)
        {
            const unsigned a = p[3];
            if (a == 0)
            {
                p[0] = p[1] = p[2] = 0;
                continue;
            }
            p[0] = static_cast<uint8_t>((p[0] * a) >> 8);
            p[1] = static_cast<uint8_t>((p[1] * a) >> 8);
            p[2] = static_cast<uint8_t>((p[2] * a) >> 8);
        }
    }
}

// Owns libpng's read and info structures, so they are released however decoding ends: by
// return, by libpng's longjmp back into decodeInto, or by an exception such as std::bad_alloc.
struct PngReadStructs
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReadStructs()
    {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// libpng leaves through longjmp on any error, so no object with a destructor may live in this
// frame across its calls; what must be released lives in the caller's frame. Decodes into
// picture, made from the header and filled as far as libpng got; picture stays null when not
// even the header could be read.
void decodeInto(png_structp png, png_infop info, MemoryReader& reader,
                std::unique_ptr<platform::Picture>& picture)
{
    if (setjmp(png_jmpbuf(png)) != 0) return;

    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    png_uint_32 w = 0;
    png_uint_32 h = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png, info, &w, &h, &bitDepth, &colorType, nullptr, nullptr, nullptr);

    // 32 bits per pixel, rows bottom-up, zeroed: undecoded rows stay transparent.
    picture = platform::createPicture(static_cast<int32_t>(w), static_cast<int32_t>(h), true);
    if (!picture) png_error(png, "no memory for the picture");

    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    else
        png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    if (bitDepth == 16)
    {
        png_set_swap(png);
        png_set_strip_16(png);
    }
    // Palette images become RGB too and need the same order as true-colour ones.
    if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA ||
        colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(w) * 4)
        png_error(png, "unexpected row layout");

    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < h; ++y)
            png_read_row(png, picture->row(static_cast<int32_t>(h - 1 - y)), nullptr);
    png_read_end(png, nullptr);
}

// The picture decoded as far as libpng got, or null when not even the header could be read.
std::unique_ptr<platform::Picture> decodePng(const uint8_t* data, size_t size)
{
    MemoryReader reader{data, size, 0};
    PngReadStructs structs;
    std::unique_ptr<platform::Picture> picture;
    structs.png = png_create_read_struct("1.6.2", nullptr, nullptr, nullptr);
    if (!structs.png) return picture;
    structs.info = png_create_info_struct(structs.png);
    if (!structs.info) return picture;
    decodeInto(structs.png, structs.info, reader, picture);
    return picture;
}

} // namespace

CBitmap::CBitmap(int32_t resourceID) : resourceID(resourceID)
{
    loadFromResource(resourceID);
    transparentColor = kTransparentCColor;
}

CBitmap::~CBitmap() = default;

void CBitmap::dispose()
{
    pHandle.reset();
    width = 0;
    height = 0;
    noAlpha = false;
}

bool CBitmap::loadFromPath(const void*)
{
    dispose();
    return false;
}

bool CBitmap::loadFromResource(int32_t id)
{
    dispose();
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (platform::findResource(id, "PNG", &data, &size) && data) return loadPng(data, size);

    pHandle = platform::loadBitmapResource(id);
    if (!pHandle) return false;
    width = pHandle->width();
    height = pHandle->height();
    noAlpha = true;
    return true;
}

bool CBitmap::loadPng(const uint8_t* data, size_t size)
{
    pHandle = decodePng(data, size);
    if (!pHandle) return false;
    // Rows that were decoded before an error are kept, premultiplied like a whole picture.
    premultiply(*pHandle);
    pHandle->pixelsChanged();
    width = pHandle->width();
    height = pHandle->height();
    noAlpha = false;
    return true;
}

void CBitmap::draw(CDrawContext* context, const CRect& rect, const CPoint& offset)
{
    if (!noAlpha)
    {
        drawAlphaBlend(context, rect, offset, 255);
        return;
    }
    if (!pHandle || !context || !context->getSurface()) return;
    CRect dest(rect);
    dest.offset(context->offset.h, context->offset.v);
    context->getSurface()->copyPicture(*pHandle, dest, offset);
}

void CBitmap::drawTransparent(CDrawContext* context, const CRect& rect, const CPoint& offset)
{
    if (!noAlpha)
    {
        drawAlphaBlend(context, rect, offset, 255);
        return;
    }
    if (!pHandle || !context || !context->getSurface()) return;
    CRect dest(rect);
    dest.offset(context->offset.h, context->offset.v);
    context->getSurface()->keyPicture(*pHandle, dest, offset, transparentColor);
}

void CBitmap::drawAlphaBlend(CDrawContext* context, const CRect& rect, const CPoint& offset,
                             uint8_t alpha)
{
    if (!pHandle || !context || !context->getSurface()) return;
    CRect dest(rect);
    dest.offset(context->offset.h, context->offset.v);
    context->getSurface()->blendPicture(*pHandle, dest, offset, alpha);
}

} // namespace VSTGUI
