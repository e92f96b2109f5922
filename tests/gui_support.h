// Helpers for the editor toolkit's tests: a frame on a headless window with a recording editor,
// a recording listener, a surface that logs what is asked of it, and pixel access to pictures.
#pragma once

#include "cbitmap.h"
#include "ccontrol.h"
#include "cdrawcontext.h"
#include "cframe.h"
#include "cknob.h"
#include "conoffbutton.h"
#include "cparamdisplay.h"
#include "platform/cairo/cairosurface.h"
#include "platform/headless/headlesswindow.h"
#include "platform/platform.h"

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

namespace guitest
{

using namespace VSTGUI;

const CColor kOpaqueBlack{0, 0, 0, 255};
const CColor kGreen254{0, 254, 0, 255}; // pure green after premultiplying by 255 / 256
const CColor kNothing{0, 0, 0, 0};

// The editor as the frame sees it: records edit gestures and idle requests; an idle request
// redraws the frame like the real editor's does.
class TestEditor : public CFrameEditor
{
public:
    void doIdleStuff() override
    {
        ++idleRequests;
        log.push_back("idle");
        if (frame) frame->idle();
    }
    void beginEdit(int32_t index) override { log.push_back("begin " + std::to_string(index)); }
    void endEdit(int32_t index) override { log.push_back("end " + std::to_string(index)); }
    int32_t getKnobMode() const override { return knobMode; }

    CFrame* frame = nullptr;
    int32_t knobMode = 0;
    int32_t idleRequests = 0;
    std::vector<std::string> log;
};

class TestListener : public CControlListener
{
public:
    explicit TestListener(std::vector<std::string>* sharedLog = nullptr) : log(sharedLog) {}
    void valueChanged(CDrawContext*, CControl* control) override
    {
        values.push_back(control->getValue());
        tags.push_back(control->getTag());
        if (log) log->push_back("changed " + std::to_string(control->getTag()));
    }
    int32_t controlModifierClicked(CDrawContext*, CControl*, int32_t buttons) override
    {
        modifierClicks.push_back(buttons);
        return consumeModifierClicks;
    }

    std::vector<std::string>* log;
    std::vector<float> values;
    std::vector<int32_t> tags;
    std::vector<int32_t> modifierClicks;
    int32_t consumeModifierClicks = 0;
};

// Any non-null pointer stands for the host's window.
inline void* hostWindow()
{
    static int window;
    return &window;
}

// A 512 x 128 frame (the editor's size) on a headless window, its editor linked back.
struct FrameFixture
{
    explicit FrameFixture(bool withBackground = true)
    {
        frame = new CFrame(CRect(0, 0, 512, 128), hostWindow(), &editor);
        editor.frame = frame;
        window = static_cast<platform::HeadlessWindow*>(frame->getPlatformWindow());
        if (withBackground)
        {
            CBitmap* background = new CBitmap(102);
            frame->setBackground(background);
            background->forget();
        }
    }
    ~FrameFixture() { frame->forget(); }

    TestEditor editor;
    CFrame* frame;
    platform::HeadlessWindow* window;
};

// The editor's seventeen views at their places, as its window shows them.
struct EditorLayout
{
    EditorLayout(CFrame* frame, CControlListener* listener)
    {
        CBitmap* body = new CBitmap(100);
        CBitmap* handle = new CBitmap(101);
        pitch = new CKnob(CRect(64, 24, 104, 64), listener, 0, body, handle);
        formant = new CKnob(CRect(64, 72, 104, 112), listener, 1, body, handle);
        for (CKnob* knob : {pitch, formant})
        {
            knob->setInsetValue(4);
            frame->addView(knob);
        }
        body->forget();
        handle->forget();
        pitchDisplay = new CTextLabel(CRect(112, 42, 144, 54), "+0.0", nullptr, 8);
        formantDisplay = new CTextLabel(CRect(112, 90, 144, 102), "+0.0", nullptr, 8);
        for (CTextLabel* label : {pitchDisplay, formantDisplay})
        {
            label->setFont(kNormalFontSmall);
            label->setFontColor(kWhiteCColor);
            label->setBackColor(kBlackCColor);
            label->setFrameColor(kBlackCColor);
            frame->addView(label);
        }
        CBitmap* scaleBitmap = new CBitmap(103);
        scale = new COnOffButton(CRect(192, 28, 240, 44), listener, 2, scaleBitmap);
        frame->addView(scale);
        scaleBitmap->forget();
        CBitmap* noteBitmap = new CBitmap(104);
        for (int32_t i = 0; i < 12; ++i)
        {
            notes[i] = new COnOffButton(CRect(192 + 16 * i, 48, 208 + 16 * i, 112), listener, 3 + i,
                                        noteBitmap);
            frame->addView(notes[i]);
        }
        noteBitmap->forget();
    }

    CKnob* pitch;
    CKnob* formant;
    CTextLabel* pitchDisplay;
    CTextLabel* formantDisplay;
    COnOffButton* scale;
    COnOffButton* notes[12];
};

// Pixel (x, y) of a picture, y counted from the top, as stored (premultiplied).
inline CColor bitmapPixel(const CBitmap& bitmap, int32_t x, int32_t y)
{
    const platform::Picture* picture = bitmap.getHandle();
    const uint8_t* p = picture->row(picture->height() - 1 - y) + 4 * x;
    return CColor{p[2], p[1], p[0], p[3]};
}

inline std::string describe(const CColor& c)
{
    return "(" + std::to_string(c.red) + ", " + std::to_string(c.green) + ", " +
           std::to_string(c.blue) + ", " + std::to_string(c.alpha) + ")";
}

// Leaves an image where a failing test can be looked at.
inline void saveImage(cairo_surface_t* image, const std::string& name)
{
    const std::string path = std::string(HALVERN_TEST_OUTPUT_DIR) + "/" + name + ".png";
    cairo_surface_write_to_png(image, path.c_str());
}

// An image surface to draw on and read back, filled with one colour.
struct Canvas
{
    Canvas(int32_t width, int32_t height, const CColor& fill = kBlackCColor)
        : image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
          surface(std::make_unique<platform::CairoSurface>(image))
    {
        cairo_t* cr = cairo_create(image);
        cairo_set_source_rgb(cr, fill.red / 255.0, fill.green / 255.0, fill.blue / 255.0);
        cairo_paint(cr);
        cairo_destroy(cr);
        context = new CDrawContext(nullptr, surface.get(), nullptr);
    }
    ~Canvas()
    {
        context->forget();
        surface.reset();
        cairo_surface_destroy(image);
    }
    CColor pixel(int32_t x, int32_t y) const { return surface->pixel(CPoint(x, y)); }
    bool samePixels(const Canvas& other) const
    {
        for (int32_t y = 0; y < cairo_image_surface_get_height(image); ++y)
            for (int32_t x = 0; x < cairo_image_surface_get_width(image); ++x)
                if (pixel(x, y) != other.pixel(x, y)) return false;
        return true;
    }

    cairo_surface_t* image;
    std::unique_ptr<platform::CairoSurface> surface;
    CDrawContext* context;
};

// Logs every call a drawing context makes on its surface.
class RecordingSurface : public platform::DrawSurface
{
public:
    void selectPen(const CColor&, int32_t width, CLineStyle) override
    {
        ++pens;
        calls.push_back("pen " + std::to_string(width));
    }
    void selectBrush(const CColor&) override
    {
        ++brushes;
        calls.push_back("brush");
    }
    void selectFont(const platform::FontSpec& font) override
    {
        ++fonts;
        lastFont = font;
        calls.push_back("font");
    }
    void setTextColor(const CColor&) override {}
    void setTextBackground(const CColor&) override {}
    void setClip(const CRect& clip) override
    {
        ++clips;
        lastClip = clip;
    }
    void moveTo(const CPoint& p) override { points.push_back(p); }
    void lineTo(const CPoint& p) override { points.push_back(p); }
    void fillRect(const CRect& r) override { fills.push_back(r); }
    void drawText(const char* text, const CRect& box, CHoriTxtAlign align, bool opaque) override
    {
        texts.push_back(text);
        textBoxes.push_back(box);
        textAligns.push_back(align);
        textOpaque.push_back(opaque);
    }
    void blendPicture(const platform::Picture&, const CRect& dest, const CPoint& source,
                      uint8_t) override
    {
        blends.push_back(dest);
        blendSources.push_back(source);
    }
    void copyPicture(const platform::Picture&, const CRect&, const CPoint&) override {}
    void keyPicture(const platform::Picture&, const CRect&, const CPoint&, const CColor&) override
    {
    }
    void copyFrom(const DrawSurface&, const CRect&, const CPoint&) override {}
    CColor pixel(const CPoint&) const override { return CColor{}; }

    int32_t pens = 0;
    int32_t brushes = 0;
    int32_t fonts = 0;
    int32_t clips = 0;
    platform::FontSpec lastFont;
    CRect lastClip;
    std::vector<std::string> calls;
    std::vector<CPoint> points;
    std::vector<CRect> fills;
    std::vector<std::string> texts;
    std::vector<CRect> textBoxes;
    std::vector<CHoriTxtAlign> textAligns;
    std::vector<bool> textOpaque;
    std::vector<CRect> blends;
    std::vector<CPoint> blendSources;
};

} // namespace guitest
