#include "cairosurface.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#error                                                                                             \
    "cairo's 32-bit pixels are laid out as blue, green, red, alpha only on little-endian machines"
#endif

namespace VSTGUI
{
namespace platform
{

namespace
{

void setColor(cairo_t* cr, const CColor& c)
{
    cairo_set_source_rgb(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

// Faces are matched once per family and style and kept for the process.
cairo_font_face_t* fontFaceFor(const FontSpec& font)
{
    using Key = std::tuple<std::string, bool, bool, bool>;
    static std::map<Key, cairo_font_face_t*> faces;
    const Key key(font.face ? font.face : "", font.bold, font.italic, font.decorative);
    auto found = faces.find(key);
    if (found != faces.end()) return found->second;

    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(std::get<0>(key).c_str()));
    // the family's generic fallback when the face itself is missing
    FcPatternAddString(
        pattern, FC_FAMILY,
        reinterpret_cast<const FcChar8*>(font.decorative ? "fantasy" : "sans-serif"));
    FcPatternAddInteger(pattern, FC_WEIGHT, font.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);

    cairo_font_face_t* face = nullptr;
    if (match)
    {
        face = cairo_ft_font_face_create_for_pattern(match);
        FcPatternDestroy(match);
    }
    else
    {
        face = cairo_toy_font_face_create(
            std::get<0>(key).c_str(),
            font.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
            font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    }
    faces.emplace(key, face);
    return face;
}

CRect pictureArea(const CRect& dest, const CPoint& source, int32_t width, int32_t height)
{
    // where the whole picture would land if source were drawn at dest's corner
    CRect area(dest.left - source.h, dest.top - source.v, dest.left - source.h + width,
               dest.top - source.v + height);
    return area.bound(dest);
}

} // namespace

std::string latin1ToUtf8(const char* text)
{
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    {
        if (*p < 0x80)
            out += static_cast<char>(*p);
        else
        {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

// ---- pictures

CairoPicture::CairoPicture(cairo_surface_t* image) : surface(image)
{
    cairo_surface_flush(surface);
}

CairoPicture::~CairoPicture()
{
    cairo_surface_destroy(surface);
}

int32_t CairoPicture::width() const
{
    return cairo_image_surface_get_width(surface);
}

int32_t CairoPicture::height() const
{
    return cairo_image_surface_get_height(surface);
}

bool CairoPicture::hasAlpha() const
{
    return cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
}

uint8_t* CairoPicture::row(int32_t bottomUpY)
{
    // cairo keeps the top line first
    const int32_t y = height() - 1 - bottomUpY;
    return cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
}

const uint8_t* CairoPicture::row(int32_t bottomUpY) const
{
    return const_cast<CairoPicture*>(this)->row(bottomUpY);
}

void CairoPicture::pixelsChanged()
{
    cairo_surface_mark_dirty(surface);
}

namespace
{
struct SurfaceRelease
{
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfaceReference = std::unique_ptr<cairo_surface_t, SurfaceRelease>;
} // namespace

std::unique_ptr<Picture> createPicture(int32_t width, int32_t height, bool alpha)
{
    if (width <= 0 || height <= 0) return nullptr;
    cairo_surface_t* image =
        cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
    // Released here if the wrapper cannot be allocated.
    SurfaceReference owned(image);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) return nullptr;
    auto picture = std::make_unique<CairoPicture>(image);
    owned.release();
    return picture;
}

std::unique_ptr<DrawSurface> createImageSurface(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) return nullptr;
    // The surface object takes a reference of its own; ours goes when this returns.
    SurfaceReference image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return std::make_unique<CairoSurface>(image.get());
}

// ---- surfaces

CairoSurface::CairoSurface(cairo_surface_t* target)
    : surface(cairo_surface_reference(target)), cr(cairo_create(target))
{
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

CairoSurface::~CairoSurface()
{
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
}

void CairoSurface::selectPen(const CColor& color, int32_t width, CLineStyle style)
{
    penColor = color;
    penWidth = width;
    penStyle = style;
}

void CairoSurface::selectBrush(const CColor& color)
{
    brushColor = color;
}

void CairoSurface::selectFont(const FontSpec& font)
{
    fontFace = fontFaceFor(font);
    fontHeight = font.pixelHeight;
    fontUnderline = font.underline;
}

void CairoSurface::setTextColor(const CColor& color)
{
    textColor = color;
}

void CairoSurface::setTextBackground(const CColor& color)
{
    textBackground = color;
}

void CairoSurface::setClip(const CRect& clip)
{
    cairo_reset_clip(cr);
    if (clip.isEmpty())
        cairo_rectangle(cr, 0, 0, 0, 0);
    else
        cairo_rectangle(cr, clip.left, clip.top, clip.width(), clip.height());
    cairo_clip(cr);
}

void CairoSurface::moveTo(const CPoint& p)
{
    current = p;
}

void CairoSurface::lineTo(const CPoint& p)
{
    const CPoint from = current;
    current = p;
    if (from == p) return;
    setColor(cr, penColor);
    if (penWidth <= 1 && penStyle == kLineSolid && (from.h == p.h || from.v == p.v))
    {
        // Exact pixels: the start pixel up to, not including, the end pixel.
        CRect r;
        if (from.v == p.v)
            r = from.h < p.h ? CRect(from.h, from.v, p.h, from.v + 1)
                             : CRect(p.h + 1, from.v, from.h + 1, from.v + 1);
        else
            r = from.v < p.v ? CRect(from.h, from.v, from.h + 1, p.v)
                             : CRect(from.h, p.v + 1, from.h + 1, from.v + 1);
        cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
        cairo_fill(cr);
        return;
    }
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_line_width(cr, penWidth < 1 ? 1 : penWidth);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    if (penStyle == kLineOnOffDash)
    {
        const double dash[] = {3.0 * penWidth, 3.0 * penWidth};
        cairo_set_dash(cr, dash, 2, 0.0);
    }
    cairo_move_to(cr, from.h + 0.5, from.v + 0.5);
    cairo_line_to(cr, p.h + 0.5, p.v + 0.5);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void CairoSurface::fillRect(const CRect& r)
{
    if (r.isEmpty()) return;
    setColor(cr, brushColor);
    cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
    cairo_fill(cr);
}

void CairoSurface::drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque)
{
    if (!text || !*text || !fontFace) return;
    const std::string utf8 = latin1ToUtf8(text);
    cairo_save(cr);
    cairo_rectangle(cr, box.left, box.top, box.width() > 0 ? box.width() : 0,
                    box.height() > 0 ? box.height() : 0);
    cairo_clip(cr);
    cairo_set_font_face(cr, fontFace);
    cairo_set_font_size(cr, fontHeight);

    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    cairo_text_extents_t te;
    cairo_text_extents(cr, utf8.c_str(), &te);
    const int32_t ascent = static_cast<int32_t>(std::ceil(fe.ascent));
    const int32_t cell = ascent + static_cast<int32_t>(std::ceil(fe.descent));
    const int32_t advance = static_cast<int32_t>(std::lround(te.x_advance));

    int32_t x = box.left;
    if (align == kCenterText)
        x = box.left + (box.width() - advance) / 2;
    else if (align == kRightText)
        x = box.right - advance;
    const int32_t top = box.top + (box.height() - cell) / 2;
    const int32_t baseline = top + ascent;

    if (opaque)
    {
        setColor(cr, textBackground);
        cairo_rectangle(cr, x, top, advance, cell);
        cairo_fill(cr);
    }
    setColor(cr, textColor);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, utf8.c_str());
    if (fontUnderline)
    {
        const int32_t thickness = fontHeight >= 24 ? 2 : 1;
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_rectangle(cr, x, baseline + 1, advance, thickness);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void CairoSurface::paintArea(cairo_surface_t* image, int32_t imageWidth, int32_t imageHeight,
                             const CRect& dest, const CPoint& source, cairo_operator_t op,
                             double alpha)
{
    const CRect area = pictureArea(dest, source, imageWidth, imageHeight);
    if (area.isEmpty()) return;
    cairo_save(cr);
    cairo_set_operator(cr, op);
    cairo_set_source_surface(cr, image, dest.left - source.h, dest.top - source.v);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, area.left, area.top, area.width(), area.height());
    cairo_clip(cr);
    if (alpha >= 1.0)
        cairo_paint(cr);
    else
        cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
}

void CairoSurface::blendPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                                uint8_t alpha)
{
    const auto& p = static_cast<const CairoPicture&>(picture);
    paintArea(p.image(), p.width(), p.height(), dest, source, CAIRO_OPERATOR_OVER, alpha / 255.0);
}

void CairoSurface::copyPicture(const Picture& picture, const CRect& dest, const CPoint& source)
{
    const auto& p = static_cast<const CairoPicture&>(picture);
    paintArea(p.image(), p.width(), p.height(), dest, source, CAIRO_OPERATOR_SOURCE, 1.0);
}

void CairoSurface::keyPicture(const Picture& picture, const CRect& dest, const CPoint& source,
                              const CColor& key)
{
    const auto& p = static_cast<const CairoPicture&>(picture);
    const CRect area = pictureArea(dest, source, p.width(), p.height());
    if (area.isEmpty()) return;
    // The area as an opaque picture with the key colour cut out.
    cairo_surface_t* masked =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, area.width(), area.height());
    if (cairo_surface_status(masked) != CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_destroy(masked);
        return;
    }
    const int32_t sx = source.h + (area.left - dest.left);
    const int32_t sy = source.v + (area.top - dest.top);
    uint8_t* out = cairo_image_surface_get_data(masked);
    const int32_t stride = cairo_image_surface_get_stride(masked);
    for (int32_t y = 0; y < area.height(); ++y)
    {
        const uint8_t* in = p.row(p.height() - 1 - (sy + y)) + 4 * sx;
        uint8_t* o = out + y * stride;
        for (int32_t x = 0; x < area.width(); ++x, in += 4, o += 4)
        {
            const bool isKey = in[0] == key.blue && in[1] == key.green && in[2] == key.red;
            o[0] = isKey ? 0 : in[0];
            o[1] = isKey ? 0 : in[1];
            o[2] = isKey ? 0 : in[2];
            o[3] = isKey ? 0 : 255;
        }
    }
    cairo_surface_mark_dirty(masked);
    paintArea(masked, area.width(), area.height(), area, CPoint(0, 0), CAIRO_OPERATOR_OVER, 1.0);
    cairo_surface_destroy(masked);
}

void CairoSurface::copyFrom(const DrawSurface& from, const CRect& dest, const CPoint& source)
{
    const auto* other = dynamic_cast<const CairoSurface*>(&from);
    if (!other) return;
    cairo_surface_flush(other->surface);
    paintArea(other->surface, cairo_image_surface_get_width(other->surface),
              cairo_image_surface_get_height(other->surface), dest, source, CAIRO_OPERATOR_SOURCE,
              1.0);
}

CColor CairoSurface::pixel(const CPoint& p) const
{
    cairo_surface_flush(surface);
    if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return CColor{};
    const int32_t w = cairo_image_surface_get_width(surface);
    const int32_t h = cairo_image_surface_get_height(surface);
    if (p.h < 0 || p.v < 0 || p.h >= w || p.v >= h) return CColor{};
    const uint8_t* px = cairo_image_surface_get_data(surface) +
                        p.v * cairo_image_surface_get_stride(surface) + 4 * p.h;
    const bool alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
    return CColor{px[2], px[1], px[0], alpha ? px[3] : uint8_t(255)};
}

} // namespace platform
} // namespace VSTGUI
