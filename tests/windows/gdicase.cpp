// The GDI drawing layer's pixel rules, checked on memory surfaces: fills and pen lines stop one
// pixel short of right and bottom, clipping, text kept inside its box, premultiplied blending,
// colour-key copies and copies between surfaces.
#include "hostcases.h"

#include "platform/win32/gdisurface.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace hostcheck
{

namespace
{

using namespace VSTGUI;
using namespace VSTGUI::platform;

constexpr CColor kRed{255, 0, 0, 255};
constexpr CColor kGreen{0, 255, 0, 255};
constexpr CColor kBlack{0, 0, 0, 255};
constexpr CColor kWhite{255, 255, 255, 255};

std::unique_ptr<DrawSurface> surface(int32_t width, int32_t height, const CColor& background)
{
    auto s = createImageSurface(width, height);
    if (!s) return s;
    s->selectBrush(background);
    s->fillRect(CRect(0, 0, width, height));
    return s;
}

// The pixels of a surface for which is holds, as a set of points.
std::vector<CPoint> where(const DrawSurface& s, int32_t width, int32_t height,
                          const std::function<bool(const CColor&)>& is)
{
    std::vector<CPoint> points;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (is(s.pixel(CPoint(x, y)))) points.push_back(CPoint(x, y));
    return points;
}

bool exactlyTheRect(const std::vector<CPoint>& points, const CRect& r)
{
    if (points.size() != static_cast<size_t>(r.width()) * static_cast<size_t>(r.height()))
        return false;
    for (const CPoint& p : points)
        if (p.h < r.left || p.h >= r.right || p.v < r.top || p.v >= r.bottom) return false;
    return true;
}

std::string colorText(const CColor& c)
{
    return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue);
}

void checkFillsAndLines()
{
    auto s = surface(40, 30, kBlack);
    check(s != nullptr, "a 40 x 30 memory surface");
    if (!s) return;
    auto isRed = [](const CColor& c) { return c == kRed; };
    auto isGreen = [](const CColor& c) { return c == kGreen; };

    s->selectBrush(kRed);
    s->fillRect(CRect(2, 3, 7, 9));
    check(exactlyTheRect(where(*s, 40, 30, isRed), CRect(2, 3, 7, 9)),
          "fillRect (2, 3, 7, 9) covers x 2..6 and y 3..8, nothing else");

    s->selectPen(kGreen, 1, kLineSolid);
    s->moveTo(CPoint(10, 20));
    s->lineTo(CPoint(20, 20));
    s->moveTo(CPoint(30, 5));
    s->lineTo(CPoint(30, 12));
    const auto green = where(*s, 40, 30, isGreen);
    bool onLines = green.size() == 10 + 7;
    for (const CPoint& p : green)
        onLines = onLines &&
                  ((p.v == 20 && p.h >= 10 && p.h < 20) || (p.h == 30 && p.v >= 5 && p.v < 12));
    check(onLines, "pen lines start at their first point and stop one pixel before the last (" +
                       std::to_string(green.size()) + " pixels)");
}

void checkClip()
{
    auto s = surface(20, 20, kBlack);
    if (!s) return;
    s->setClip(CRect(4, 5, 9, 8));
    s->selectBrush(kRed);
    s->fillRect(CRect(0, 0, 20, 20));
    check(exactlyTheRect(where(*s, 20, 20, [](const CColor& c) { return c == kRed; }),
                         CRect(4, 5, 9, 8)),
          "a fill under the clip rectangle (4, 5, 9, 8) changes only its pixels");
    s->setClip(CRect());
    s->selectBrush(kGreen);
    s->fillRect(CRect(0, 0, 20, 20));
    check(where(*s, 20, 20, [](const CColor& c) { return c == kGreen; }).empty(),
          "an empty clip rectangle lets nothing through");
}

void checkText()
{
    auto s = surface(80, 40, kBlack);
    if (!s) return;
    FontSpec font;
    font.pixelHeight = 12;
    s->selectFont(font);
    s->setTextColor(kWhite);
    auto lit = [](const CColor& c) { return c.red + c.green + c.blue > 3 * 64; };

    const CRect box(20, 10, 60, 30);
    s->drawText("888", box, kLeftText, false);
    const auto left = where(*s, 80, 40, lit);
    bool inside = !left.empty();
    int32_t minX = 80, minY = 40, maxY = 0;
    for (const CPoint& p : left)
    {
        inside = inside && p.h >= box.left && p.h < box.right && p.v >= box.top && p.v < box.bottom;
        minX = std::min(minX, p.h);
        minY = std::min(minY, p.v);
        maxY = std::max(maxY, p.v);
    }
    check(inside, "text is drawn, inside its box only");
    check(minX >= box.left && minX <= box.left + 2,
          "left-aligned text starts at the box's left edge (first lit column " +
              std::to_string(minX) + ")");
    const int32_t above = minY - box.top, below = box.bottom - 1 - maxY;
    check(std::abs(above - below) <= 3, "text is centred vertically (" + std::to_string(above) +
                                            " rows above, " + std::to_string(below) + " below)");

    auto t = surface(80, 40, kBlack);
    t->selectFont(font);
    t->setTextColor(kWhite);
    t->drawText("888888888888", CRect(30, 15, 40, 25), kCenterText, false);
    bool clipped = true;
    for (const CPoint& p : where(*t, 80, 40, lit))
        clipped = clipped && p.h >= 30 && p.h < 40 && p.v >= 15 && p.v < 25;
    check(clipped, "text longer than its box is cut at the box");

    auto u = surface(80, 40, kBlack);
    u->selectFont(font);
    u->setTextColor(kWhite);
    u->setTextBackground(kRed);
    u->drawText("1", CRect(0, 0, 80, 40), kCenterText, true);
    check(!where(*u, 80, 40, [](const CColor& c) { return c == kRed; }).empty(),
          "opaque text fills its cell with the text background");
}

void checkPictures()
{
    // Premultiplied white at alpha 128, and an opaque blue pixel.
    auto picture = createPicture(2, 1, true);
    check(picture != nullptr, "a 2 x 1 picture with alpha");
    if (!picture) return;
    uint8_t* row = picture->row(0);
    const uint8_t pixels[8] = {128, 128, 128, 128, 255, 0, 0, 255}; // blue, green, red, alpha
    std::copy(pixels, pixels + 8, row);
    picture->pixelsChanged();

    auto s = surface(10, 10, kBlack);
    if (!s) return;
    s->blendPicture(*picture, CRect(3, 4, 7, 8), CPoint(0, 0), 255);
    const CColor half = s->pixel(CPoint(3, 4));
    const CColor blue = s->pixel(CPoint(4, 4));
    check(half.red >= 127 && half.red <= 129 && half.green == half.red && half.blue == half.red,
          "half-transparent white over black blends to grey (" + colorText(half) + ")");
    check(blue == (CColor{0, 0, 255, 255}), "an opaque pixel replaces the background");
    size_t changed = 0;
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x)
            if (s->pixel(CPoint(x, y)) != kBlack) ++changed;
    check(changed == 2, "parts of the area outside the picture draw nothing (" +
                            std::to_string(changed) + " pixels changed)");

    auto w = surface(4, 4, kWhite);
    w->blendPicture(*picture, CRect(0, 0, 1, 1), CPoint(0, 0), 255);
    check(w->pixel(CPoint(0, 0)).red >= 254, "half-transparent white over white stays white");
    auto c = surface(4, 4, kWhite);
    c->blendPicture(*picture, CRect(0, 0, 1, 1), CPoint(1, 0), 128);
    const CColor faded = c->pixel(CPoint(0, 0));
    check(faded.blue == 255 && faded.red >= 126 && faded.red <= 129,
          "a constant alpha of 128 lays blue half over white (" + colorText(faded) + ")");

    // Colour key: magenta is left out.
    auto plain = createPicture(2, 1, false);
    uint8_t* p = plain->row(0);
    const uint8_t keyed[8] = {255, 0, 255, 0, 0, 255, 0, 0}; // magenta, green
    std::copy(keyed, keyed + 8, p);
    plain->pixelsChanged();
    auto k = surface(4, 4, kRed);
    k->keyPicture(*plain, CRect(1, 1, 3, 2), CPoint(0, 0), CColor{255, 0, 255, 0});
    check(k->pixel(CPoint(1, 1)) == kRed && k->pixel(CPoint(2, 1)) == kGreen,
          "a colour-key copy leaves the key colour's pixels as they were");
    auto copy = surface(4, 4, kBlack);
    copy->copyPicture(*plain, CRect(0, 0, 2, 1), CPoint(0, 0));
    check(copy->pixel(CPoint(0, 0)) == (CColor{255, 0, 255, 255}) &&
              copy->pixel(CPoint(1, 0)) == kGreen,
          "a plain copy takes every pixel");

    auto from = surface(6, 6, kBlack);
    from->selectBrush(kGreen);
    from->fillRect(CRect(2, 2, 4, 4));
    auto to = surface(6, 6, kRed);
    to->copyFrom(*from, CRect(0, 0, 3, 3), CPoint(1, 1));
    check(to->pixel(CPoint(0, 0)) == kBlack && to->pixel(CPoint(1, 1)) == kGreen &&
              to->pixel(CPoint(2, 2)) == kGreen && to->pixel(CPoint(3, 3)) == kRed,
          "copyFrom moves the source point to the destination's corner, that size only");
}

} // namespace

void runGdiCases()
{
    checkFillsAndLines();
    checkClip();
    checkText();
    checkPictures();
}

} // namespace hostcheck
