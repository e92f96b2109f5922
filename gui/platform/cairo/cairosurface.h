// Drawing surfaces and pictures over cairo image surfaces, with fonts found through fontconfig.
// Colours of pens, brushes and text are drawn opaque: their alpha byte is ignored, as on GDI.
#pragma once

#include "../platform.h"

#include <cairo.h>

#include <string>

namespace VSTGUI
{
namespace platform
{

class CairoPicture : public Picture
{
public:
    // Takes over the image surface (one reference).
    explicit CairoPicture(cairo_surface_t* image);
    ~CairoPicture() override;

    int32_t width() const override;
    int32_t height() const override;
    bool hasAlpha() const override;
    uint8_t* row(int32_t bottomUpY) override;
    const uint8_t* row(int32_t bottomUpY) const override;
    void pixelsChanged() override;

    cairo_surface_t* image() const { return surface; }

private:
    cairo_surface_t* surface;
};

class CairoSurface : public DrawSurface
{
public:
    // Draws on target, which it keeps a reference of.
    explicit CairoSurface(cairo_surface_t* target);
    ~CairoSurface() override;

    void selectPen(const CColor& color, int32_t width, CLineStyle style) override;
    void selectBrush(const CColor& color) override;
    void selectFont(const FontSpec& font) override;
    void setTextColor(const CColor& color) override;
    void setTextBackground(const CColor& color) override;
    void setClip(const CRect& clip) override;
    void moveTo(const CPoint& p) override;
    void lineTo(const CPoint& p) override;
    void fillRect(const CRect& r) override;
    void drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque) override;
    void blendPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                      uint8_t alpha) override;
    void copyPicture(const Picture& picture, const CRect& dest, const CPoint& source) override;
    void keyPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                    const CColor& key) override;
    void copyFrom(const DrawSurface& from, const CRect& dest, const CPoint& source) override;
    CColor pixel(const CPoint& p) const override;

    cairo_surface_t* target() const { return surface; }

private:
    void paintArea(cairo_surface_t* image, int32_t imageWidth, int32_t imageHeight,
                   const CRect& dest, const CPoint& source, cairo_operator_t op, double alpha);

    cairo_surface_t* surface;
    cairo_t* cr;
    CColor penColor = kBlackCColor;
    int32_t penWidth = 1;
    CLineStyle penStyle = kLineSolid;
    CColor brushColor = kWhiteCColor;
    CColor textColor = kBlackCColor;
    CColor textBackground = kWhiteCColor;
    cairo_font_face_t* fontFace = nullptr; // borrowed from the process-wide face cache
    int32_t fontHeight = 12;
    bool fontUnderline = false;
    CPoint current;
};

// Converts text in the host's 8-bit character set (Latin-1) to UTF-8 for cairo.
std::string latin1ToUtf8(const char* text);

} // namespace platform
} // namespace VSTGUI
