// Pictures loaded from the module's "PNG" resources, kept as premultiplied 32-bit pixels.
#pragma once

#include "creferencecounter.h"
#include "vstguibase.h"

#include <memory>

namespace VSTGUI
{

namespace platform
{
class Picture;
} // namespace platform

class CDrawContext;

class CBitmap : public CReferenceCounter
{
public:
    // Loads resource resourceID; a missing or unreadable one leaves a 0 x 0 bitmap.
    explicit CBitmap(int32_t resourceID);
    ~CBitmap() override;

    // Draws the rect-sized area starting at offset of the picture at rect: with its alpha when
    // it came from a PNG, else as a plain copy.
    virtual void draw(CDrawContext* context, const CRect& rect, const CPoint& offset = CPoint());
    // The same, but a plain bitmap leaves out its transparent colour.
    virtual void drawTransparent(CDrawContext* context, const CRect& rect,
                                 const CPoint& offset = CPoint());
    virtual void drawAlphaBlend(CDrawContext* context, const CRect& rect, const CPoint& offset,
                                uint8_t alpha);
    virtual void dispose();
    // True when something was loaded.
    virtual bool loadFromResource(int32_t resourceID);
    // Loading from a file is not offered: disposes and returns false.
    virtual bool loadFromPath(const void* platformPath);

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    int32_t getResourceID() const { return resourceID; }
    bool isNoAlpha() const { return noAlpha; }
    void setTransparentColor(const CColor& color) { transparentColor = color; }
    CColor getTransparentColor() const { return transparentColor; }
    // The pixels, or null when nothing is loaded.
    const platform::Picture* getHandle() const { return pHandle.get(); }

private:
    bool loadPng(const uint8_t* data, size_t size);

    int32_t resourceID;
    int32_t width = 0;
    int32_t height = 0;
    CColor transparentColor = kTransparentCColor;
    bool noAlpha = true;
    std::unique_ptr<platform::Picture> pHandle;
};

} // namespace VSTGUI
