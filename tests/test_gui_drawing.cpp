// Drawing contexts and bitmaps: the pictures as decoded from their PNG files, pixel rules of
// fills, outlines and lines, fonts and text alignment, offscreen buffers and blending.
#include "gui_support.h"

#include "halvernresources.h"

#include <gtest/gtest.h>
#include <png.h>

#include <vector>

using namespace VSTGUI;
using namespace guitest;

namespace
{

// A picture decoded by libpng's own simplified reader: the file's plain RGBA values.
struct RawPicture
{
    int32_t width = 0;
    int32_t height = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> rgba;
    CColor at(int32_t x, int32_t y) const
    {
        const uint8_t* p = &rgba[4 * (y * width + x)];
        return CColor{p[0], p[1], p[2], p[3]};
    }
};

RawPicture decodeFile(int32_t id)
{
    RawPicture raw;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!findHalvernResource(id, "PNG", &data, &size)) return raw;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return raw;
    raw.hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    raw.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, raw.rgba.data(), 0, nullptr)) return raw;
    raw.width = static_cast<int32_t>(image.width);
    raw.height = static_cast<int32_t>(image.height);
    return raw;
}

CColor premultiplied(const CColor& c)
{
    if (c.alpha == 0) return CColor{0, 0, 0, 0};
    auto scale = [&](uint8_t v) { return static_cast<uint8_t>((v * c.alpha) >> 8); };
    return CColor{scale(c.red), scale(c.green), scale(c.blue), c.alpha};
}

} // namespace

// ---- the five pictures

TEST(Pictures, SizesAndPixelFormats)
{
    struct Expected
    {
        int32_t id, width, height;
        bool alpha;
    };
    const Expected expected[] = {
        {100, 40, 40, false}, {101, 8, 8, true},    {102, 512, 128, false},
        {103, 48, 32, true},  {104, 16, 128, true},
    };
    for (const Expected& e : expected)
    {
        CBitmap* bitmap = new CBitmap(e.id);
        EXPECT_EQ(bitmap->getWidth(), e.width) << e.id;
        EXPECT_EQ(bitmap->getHeight(), e.height) << e.id;
        EXPECT_FALSE(bitmap->isNoAlpha()) << e.id;
        EXPECT_EQ(bitmap->getResourceID(), e.id);
        EXPECT_EQ(bitmap->getTransparentColor(), kTransparentCColor);
        ASSERT_NE(bitmap->getHandle(), nullptr) << e.id;
        EXPECT_EQ(decodeFile(e.id).hasAlpha, e.alpha) << e.id;
        bitmap->forget();
    }
}

TEST(Pictures, DecodedAsPremultipliedCopiesOfTheFile)
{
    for (int32_t id = 100; id <= 104; ++id)
    {
        const RawPicture raw = decodeFile(id);
        ASSERT_GT(raw.width, 0) << id;
        CBitmap* bitmap = new CBitmap(id);
        int32_t mismatches = 0;
        for (int32_t y = 0; y < raw.height; ++y)
            for (int32_t x = 0; x < raw.width; ++x)
            {
                const CColor want = premultiplied(raw.at(x, y));
                const CColor got = bitmapPixel(*bitmap, x, y);
                if (got != want && ++mismatches < 5)
                    ADD_FAILURE() << "picture " << id << " at " << x << ", " << y << ": "
                                  << describe(got) << " instead of " << describe(want);
            }
        EXPECT_EQ(mismatches, 0) << id;
        bitmap->forget();
    }
}

TEST(Pictures, HandleIsAPureGreenDot)
{
    CBitmap* handle = new CBitmap(101);
    int32_t opaque = 0;
    int32_t clear = 0;
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
        {
            const CColor c = bitmapPixel(*handle, x, y);
            EXPECT_EQ(c.red, 0);
            EXPECT_EQ(c.blue, 0);
            EXPECT_EQ(c.green, (255 * c.alpha) >> 8) << x << ", " << y;
            if (c.alpha == 0)
            {
                EXPECT_EQ(c, kNothing);
                ++clear;
            }
            if (c.alpha == 255)
            {
                EXPECT_EQ(c, kGreen254);
                ++opaque;
            }
        }
    EXPECT_EQ(bitmapPixel(*handle, 0, 0), kNothing);
    EXPECT_EQ(bitmapPixel(*handle, 3, 3), kGreen254);
    EXPECT_EQ(bitmapPixel(*handle, 4, 4), kGreen254);
    EXPECT_GE(opaque, 16);
    EXPECT_GE(clear, 4);
    handle->forget();
}

TEST(Pictures, KnobBodyIsOpaqueAndBlendsIntoTheBackground)
{
    CBitmap* knob = new CBitmap(100);
    CBitmap* background = new CBitmap(102);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x)
            ASSERT_EQ(bitmapPixel(*knob, x, y).alpha, 255) << x << ", " << y;
    // the corners of an opaque picture show; they must be the panel under both knobs
    for (int32_t top : {24, 72})
    {
        EXPECT_EQ(bitmapPixel(*knob, 0, 0), bitmapPixel(*background, 64, top));
        EXPECT_EQ(bitmapPixel(*knob, 39, 0), bitmapPixel(*background, 103, top));
        EXPECT_EQ(bitmapPixel(*knob, 0, 39), bitmapPixel(*background, 64, top + 39));
        EXPECT_EQ(bitmapPixel(*knob, 39, 39), bitmapPixel(*background, 103, top + 39));
    }
    // no handle-green in the body, so the handle can be told apart
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x)
        {
            const CColor c = bitmapPixel(*knob, x, y);
            EXPECT_FALSE(c.green > 150 && c.red < 80 && c.blue < 80) << x << ", " << y;
        }
    knob->forget();
    background->forget();
}

TEST(Pictures, SwitchStatesStackedOffAboveOn)
{
    CBitmap* scale = new CBitmap(103);
    // lamps at the switch's left end, centred on (8, 8) of each 48 x 16 state
    EXPECT_EQ(bitmapPixel(*scale, 7, 7), kOpaqueBlack);
    EXPECT_EQ(bitmapPixel(*scale, 8, 8), kOpaqueBlack);
    EXPECT_EQ(bitmapPixel(*scale, 7, 16 + 7), kGreen254);
    EXPECT_EQ(bitmapPixel(*scale, 8, 16 + 8), kGreen254);
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 16; x < 48; ++x)
            ASSERT_EQ(bitmapPixel(*scale, x, y), kNothing) << x << ", " << y;
    scale->forget();

    CBitmap* note = new CBitmap(104);
    // lamps near the bottom of each 16 x 64 state, centred on (8, 55)
    EXPECT_EQ(bitmapPixel(*note, 8, 55), kOpaqueBlack);
    EXPECT_EQ(bitmapPixel(*note, 7, 54), kOpaqueBlack);
    EXPECT_EQ(bitmapPixel(*note, 8, 64 + 55), kGreen254);
    EXPECT_EQ(bitmapPixel(*note, 7, 64 + 54), kGreen254);
    for (int32_t half : {0, 64})
        for (int32_t y = 0; y < 45; ++y)
            for (int32_t x = 0; x < 16; ++x)
                ASSERT_EQ(bitmapPixel(*note, x, half + y), kNothing) << x << ", " << half + y;
    note->forget();
}

TEST(Pictures, MissingResourceIsAnEmptyBitmapThatDrawsNothing)
{
    CBitmap* missing = new CBitmap(99);
    EXPECT_EQ(missing->getWidth(), 0);
    EXPECT_EQ(missing->getHeight(), 0);
    EXPECT_EQ(missing->getHandle(), nullptr);
    EXPECT_FALSE(missing->loadFromResource(99));
    EXPECT_FALSE(missing->loadFromResource(105));

    Canvas canvas(20, 20, kRedCColor);
    missing->draw(canvas.context, CRect(0, 0, 20, 20));
    missing->drawTransparent(canvas.context, CRect(0, 0, 20, 20));
    EXPECT_EQ(canvas.pixel(10, 10), kRedCColor);

    EXPECT_TRUE(missing->loadFromResource(101));
    EXPECT_EQ(missing->getWidth(), 8);
    EXPECT_FALSE(missing->loadFromPath("handle.png"));
    EXPECT_EQ(missing->getWidth(), 0);
    EXPECT_EQ(missing->getHandle(), nullptr);
    missing->forget();
}

TEST(Pictures, ResourceTypeMustBePng)
{
    const uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_TRUE(findHalvernResource(102, "PNG", &data, &size));
    EXPECT_GT(size, 8u);
    EXPECT_EQ(data[1], 'P');
    EXPECT_TRUE(findHalvernResource(102, "png", &data, &size));
    EXPECT_FALSE(findHalvernResource(102, "BMP", &data, &size));
    EXPECT_FALSE(findHalvernResource(99, "PNG", &data, &size));
}

// ---- bitmaps on a surface

TEST(Bitmap, HandleBlendsOverWhatIsBehindIt)
{
    const CColor grey{100, 100, 100, 255};
    Canvas canvas(20, 20, grey);
    CBitmap* handle = new CBitmap(101);
    handle->draw(canvas.context, CRect(10, 10, 18, 18));
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
        {
            const CColor source = bitmapPixel(*handle, x, y);
            const CColor got = canvas.pixel(10 + x, 10 + y);
            auto over = [&](uint8_t s, uint8_t d) { return s + d * (255 - source.alpha) / 255.0; };
            EXPECT_NEAR(got.red, over(source.red, grey.red), 1.0) << x << ", " << y;
            EXPECT_NEAR(got.green, over(source.green, grey.green), 1.0) << x << ", " << y;
            EXPECT_NEAR(got.blue, over(source.blue, grey.blue), 1.0) << x << ", " << y;
        }
    EXPECT_EQ(canvas.pixel(13, 13), (CColor{0, 254, 0, 255}));
    EXPECT_EQ(canvas.pixel(10, 10), grey);
    EXPECT_EQ(canvas.pixel(9, 13), grey);
    handle->forget();
}

TEST(Bitmap, SourceOffsetPicksTheStateAndOffsetMovesTheDestination)
{
    Canvas canvas(100, 60, kRedCColor);
    CBitmap* scale = new CBitmap(103);
    canvas.context->offset = CPoint(30, 20);
    scale->draw(canvas.context, CRect(0, 0, 48, 16), CPoint(0, 16));
    EXPECT_EQ(canvas.pixel(30 + 8, 20 + 8), (CColor{0, 254, 0, 255}));
    EXPECT_EQ(canvas.pixel(30 + 30, 20 + 8), kRedCColor); // transparent part
    scale->draw(canvas.context, CRect(0, 20, 48, 36), CPoint(0, 0));
    EXPECT_EQ(canvas.pixel(30 + 8, 40 + 8), kOpaqueBlack);
    scale->forget();
}

TEST(Bitmap, AreaBeyondThePictureDrawsNothing)
{
    Canvas canvas(60, 60, kRedCColor);
    CBitmap* knob = new CBitmap(100);
    knob->draw(canvas.context, CRect(0, 0, 60, 60));
    EXPECT_EQ(canvas.pixel(0, 0), bitmapPixel(*knob, 0, 0));
    EXPECT_EQ(canvas.pixel(39, 39), bitmapPixel(*knob, 39, 39));
    EXPECT_EQ(canvas.pixel(45, 10), kRedCColor);
    EXPECT_EQ(canvas.pixel(10, 45), kRedCColor);
    knob->forget();
}

// ---- pixel rules

TEST(DrawContext, FillLeavesTheTopAndLeftEdgeUncovered)
{
    Canvas canvas(40, 40);
    canvas.context->setFillColor(kRedCColor);
    canvas.context->fillRect(CRect(10, 10, 20, 20));
    for (int32_t y = 8; y < 23; ++y)
        for (int32_t x = 8; x < 23; ++x)
        {
            const bool inside = x >= 11 && x <= 19 && y >= 11 && y <= 19;
            EXPECT_EQ(canvas.pixel(x, y), inside ? kRedCColor : kOpaqueBlack) << x << ", " << y;
        }
}

TEST(DrawContext, OutlineRunsThroughRightMinusOneAndBottomMinusOne)
{
    Canvas canvas(40, 40);
    canvas.context->setFrameColor(kWhiteCColor);
    canvas.context->drawRect(CRect(10, 10, 20, 16));
    for (int32_t y = 8; y < 19; ++y)
        for (int32_t x = 8; x < 23; ++x)
        {
            const bool onEdge = (x >= 10 && x <= 19 && (y == 10 || y == 15)) ||
                                (y >= 10 && y <= 15 && (x == 10 || x == 19));
            EXPECT_EQ(canvas.pixel(x, y), onEdge ? kWhiteCColor : kOpaqueBlack) << x << ", " << y;
        }
}

TEST(DrawContext, LinesStopOnePixelShortAndFollowTheOffset)
{
    Canvas canvas(40, 40);
    canvas.context->offset = CPoint(3, 2);
    canvas.context->setFrameColor(kWhiteCColor);
    canvas.context->moveTo(CPoint(5, 5));
    canvas.context->lineTo(CPoint(10, 5));
    for (int32_t x = 7; x < 15; ++x)
        EXPECT_EQ(canvas.pixel(x, 7), x >= 8 && x <= 12 ? kWhiteCColor : kOpaqueBlack) << x;
    canvas.context->moveTo(CPoint(20, 20));
    canvas.context->lineTo(CPoint(20, 15)); // upwards: 20 down to 16
    for (int32_t y = 15; y < 25; ++y)
        EXPECT_EQ(canvas.pixel(23, y), y >= 18 && y <= 22 ? kWhiteCColor : kOpaqueBlack) << y;
}

TEST(DrawContext, PensBrushesAndFontsAreMadeOnlyOnChange)
{
    RecordingSurface surface;
    CDrawContext* context = new CDrawContext(nullptr, &surface, nullptr);
    EXPECT_EQ(surface.pens, 1);
    EXPECT_EQ(surface.brushes, 1);
    EXPECT_EQ(surface.fonts, 1);
    EXPECT_EQ(context->getNbCreatedObjects(), 3);

    context->setFrameColor(kWhiteCColor);
    context->setLineWidth(1);
    context->setLineStyle(kLineSolid);
    context->setFillColor(kBlackCColor);
    context->setFont(kSystemFont);
    context->setFont(9); // taken as font 0: nothing changes
    EXPECT_EQ(surface.pens, 1);
    EXPECT_EQ(surface.brushes, 1);
    EXPECT_EQ(surface.fonts, 1);

    context->setFrameColor(kRedCColor);
    context->setLineWidth(2);
    context->setFillColor(kRedCColor);
    context->setFillColor(kRedCColor);
    context->setFont(kNormalFontSmall);
    context->setFont(kNormalFontSmall, 30);
    context->setFont(kNormalFontSmall, 0, kItalicFace);
    EXPECT_EQ(surface.pens, 3);
    EXPECT_EQ(surface.brushes, 2);
    EXPECT_EQ(surface.fonts, 3);
    EXPECT_EQ(context->getLineWidth(), 2);
    context->forget();
}

TEST(DrawContext, FontTable)
{
    RecordingSurface surface;
    CDrawContext* context = new CDrawContext(nullptr, &surface, nullptr);
    const int32_t heights[8] = {12, 18, 14, 12, 11, 10, 9, 13};
    for (int32_t id = 7; id >= 0; --id)
    {
        context->setFont(id);
        EXPECT_EQ(surface.lastFont.pixelHeight, heights[id]) << id;
        EXPECT_STREQ(surface.lastFont.face, id == 7 ? "Symbol" : "Arial") << id;
        EXPECT_EQ(surface.lastFont.bold, id == 0) << id;
        EXPECT_EQ(surface.lastFont.decorative, id == 7) << id;
        EXPECT_EQ(context->getFontSize(), heights[id]);
    }
    context->setFont(9);
    EXPECT_EQ(context->getFont(), 0);
    EXPECT_TRUE(surface.lastFont.bold);
    EXPECT_EQ(surface.lastFont.pixelHeight, 12);
    context->setFont(-1);
    EXPECT_EQ(context->getFont(), 0);
    context->setFont(4, 0, kBoldFace | kItalicFace | kUnderlineFace);
    EXPECT_TRUE(surface.lastFont.bold);
    EXPECT_TRUE(surface.lastFont.italic);
    EXPECT_TRUE(surface.lastFont.underline);
    EXPECT_EQ(surface.lastFont.pixelHeight, 11);
    context->forget();
}

TEST(DrawContext, FontNineDrawsAsFontZero)
{
    Canvas nine(120, 20), zero(120, 20), plain(120, 20);
    const CRect box(0, 0, 120, 20);
    nine.context->setFont(9);
    nine.context->drawString("Halvern 42", box, false, kLeftText);
    zero.context->setFont(0);
    zero.context->drawString("Halvern 42", box, false, kLeftText);
    plain.context->setFont(kNormalFont); // Arial 12 without bold
    plain.context->drawString("Halvern 42", box, false, kLeftText);
    int32_t inked = 0;
    for (int32_t x = 0; x < 120; ++x)
        for (int32_t y = 0; y < 20; ++y)
            inked += nine.pixel(x, y).red > 128;
    EXPECT_GT(inked, 50);
    EXPECT_TRUE(nine.samePixels(zero));
    EXPECT_FALSE(nine.samePixels(plain));
    if (!nine.samePixels(zero))
    {
        saveImage(nine.image, "font_nine");
        saveImage(zero.image, "font_zero");
    }
}

TEST(DrawContext, LeftAlignmentStartsOnePixelIn)
{
    RecordingSurface surface;
    CDrawContext* context = new CDrawContext(nullptr, &surface, nullptr);
    context->offset = CPoint(5, 0);
    const CRect box(10, 4, 60, 20);
    context->drawString("a", box, false, kLeftText);
    context->drawString("a", box, false, kCenterText);
    context->drawString("a", box, true, kRightText);
    context->drawString("a", box, false, static_cast<CHoriTxtAlign>(7));
    context->drawString(nullptr, box);
    ASSERT_EQ(surface.texts.size(), 4u);
    EXPECT_EQ(surface.textBoxes[0], CRect(16, 4, 65, 20));
    EXPECT_EQ(surface.textBoxes[1], CRect(15, 4, 65, 20));
    EXPECT_EQ(surface.textBoxes[2], CRect(15, 4, 65, 20));
    EXPECT_EQ(surface.textBoxes[3], CRect(16, 4, 65, 20));
    EXPECT_EQ(surface.textAligns[3], kLeftText);
    EXPECT_TRUE(surface.textOpaque[2]);
    EXPECT_FALSE(surface.textOpaque[0]);
    context->forget();

    // On pixels: the same glyphs as text placed by the surface at left + 1.
    Canvas viaContext(80, 20), viaSurface(80, 20), unshifted(80, 20);
    viaContext.context->drawString("Il", CRect(10, 0, 80, 20), false, kLeftText);
    viaSurface.surface->drawText("Il", CRect(11, 0, 80, 20), kLeftText, false);
    unshifted.surface->drawText("Il", CRect(10, 0, 80, 20), kLeftText, false);
    EXPECT_TRUE(viaContext.samePixels(viaSurface));
    EXPECT_FALSE(viaContext.samePixels(unshifted));
}

TEST(DrawContext, TextIsCentredAndAlignedInItsBox)
{
    Canvas canvas(200, 40);
    auto inkColumns = [&](int32_t top, int32_t bottom, int32_t& first, int32_t& last)
    {
        first = 1000;
        last = -1;
        for (int32_t x = 0; x < 200; ++x)
            for (int32_t y = top; y < bottom; ++y)
                if (canvas.pixel(x, y).red > 100)
                {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
    };
    canvas.context->drawString("HHHH", CRect(20, 0, 180, 20), false, kCenterText);
    int32_t first = 0, last = 0;
    inkColumns(0, 20, first, last);
    EXPECT_NEAR((first + last + 1) / 2.0, 100.0, 2.0);
    canvas.context->drawString("HHHH", CRect(20, 20, 180, 40), false, kRightText);
    inkColumns(20, 40, first, last);
    EXPECT_LE(last, 179);
    EXPECT_GE(last, 175);
    // vertically centred: the capitals' ink is centred on the box's middle row
    int32_t top = 100, bottom = -1;
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 200; ++x)
            if (canvas.pixel(x, y).red > 100)
            {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_NEAR((top + bottom + 1) / 2.0, 10.0, 2.0);
}

TEST(DrawContext, OpaqueTextFillsItsCellWithTheFillColour)
{
    const CColor blue{0, 0, 255, 255};
    Canvas opaque(100, 20, kRedCColor), clear(100, 20, kRedCColor);
    for (Canvas* c : {&opaque, &clear})
    {
        c->context->setFillColor(blue);
        c->context->setFontColor(kWhiteCColor);
    }
    opaque.context->drawString("x x", CRect(0, 0, 100, 20), true, kCenterText);
    clear.context->drawString("x x", CRect(0, 0, 100, 20), false, kCenterText);
    EXPECT_EQ(opaque.pixel(50, 10), blue); // the space between the letters
    EXPECT_EQ(clear.pixel(50, 10), kRedCColor);
    EXPECT_EQ(opaque.pixel(2, 10), kRedCColor); // outside the text's cell
}

TEST(DrawContext, ClipRectIsKeptWithoutTheOffsetAndAppliedOnChangeOnly)
{
    RecordingSurface surface;
    CDrawContext* context = new CDrawContext(nullptr, &surface, nullptr);
    EXPECT_EQ(context->getClipRect(), CRect(0, 0, 1000, 1000));
    context->offset = CPoint(10, 20);
    context->setClipRect(CRect(0, 0, 5, 5));
    EXPECT_EQ(surface.lastClip, CRect(10, 20, 15, 25));
    EXPECT_EQ(context->getClipRect(), CRect(0, 0, 5, 5));
    context->setClipRect(CRect(0, 0, 5, 5));
    EXPECT_EQ(surface.clips, 1);
    context->forget();

    Canvas canvas(30, 30);
    canvas.context->setClipRect(CRect(5, 5, 10, 10));
    canvas.context->setFillColor(kWhiteCColor);
    canvas.context->fillRect(CRect(0, 0, 30, 30));
    EXPECT_EQ(canvas.pixel(5, 5), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(9, 9), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(10, 9), kOpaqueBlack);
    EXPECT_EQ(canvas.pixel(4, 6), kOpaqueBlack);
}

TEST(Offscreen, FilledWithItsBackgroundAndCopiedPlainly)
{
    const CColor colour{10, 20, 30, 255};
    COffscreenContext* offscreen = new COffscreenContext(nullptr, 30, 20, colour);
    ASSERT_TRUE(offscreen->isValid());
    for (CPoint p : {CPoint(0, 0), CPoint(29, 0), CPoint(0, 19), CPoint(29, 19), CPoint(15, 10)})
        EXPECT_EQ(offscreen->getSurface()->pixel(p), colour) << p.h << ", " << p.v;
    EXPECT_EQ(offscreen->getClipRect(), CRect(0, 0, 30, 20));

    Canvas canvas(40, 40, kRedCColor);
    canvas.context->setClipRect(CRect(0, 0, 12, 40));
    offscreen->copyFrom(canvas.context, CRect(5, 5, 15, 10), CPoint(20, 10));
    EXPECT_EQ(canvas.pixel(5, 5), colour);
    EXPECT_EQ(canvas.pixel(11, 9), colour);
    EXPECT_EQ(canvas.pixel(12, 7), kRedCColor); // clipped
    EXPECT_EQ(canvas.pixel(5, 10), kRedCColor);
    EXPECT_EQ(canvas.pixel(4, 5), kRedCColor);
    offscreen->forget();
}
