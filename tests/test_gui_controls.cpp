// Controls: knob geometry, modal drags scripted through the headless window, wheel and arrow
// keys, switches, read-outs, dirty tracking. Pixel checks are judged from the pictures' design:
// a green handle dot running 16 pixels from the knob's centre, green and black lamps.
#include "gui_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace VSTGUI;
using namespace guitest;

namespace
{

constexpr double kPi = 3.14159265358979323846;

// Frame coordinates of a point given relative to the pitch knob's top-left corner.
CPoint onPitch(int32_t x, int32_t y)
{
    return CPoint(64 + x, 24 + y);
}

struct ControlsFixture : FrameFixture
{
    ControlsFixture() : listener(&editor.log), layout(frame, &listener) {}
    TestListener listener;
    EditorLayout layout;
};

// Centre of the handle's green pixels inside the knob at (left, top), or (-1, -1).
std::pair<double, double> handleCentre(platform::HeadlessWindow* window, int32_t left, int32_t top)
{
    double sx = 0, sy = 0;
    int32_t n = 0;
    for (int32_t y = top; y < top + 40; ++y)
        for (int32_t x = left; x < left + 40; ++x)
        {
            const CColor c = window->pixel(CPoint(x, y));
            if (c.green > 150 && c.red < 80 && c.blue < 80)
            {
                sx += x + 0.5;
                sy += y + 0.5;
                ++n;
            }
        }
    if (n < 10) return {-1.0, -1.0};
    return {sx / n, sy / n};
}

} // namespace

// ---- knob geometry

TEST(KnobGeometry, HandlePositionsAtKnownAngles)
{
    CBitmap* handle = new CBitmap(101);
    CKnob* knob = new CKnob(CRect(64, 24, 104, 64), nullptr, 0, nullptr, handle);
    EXPECT_EQ(knob->getInsetValue(), 6); // from the 8-pixel dot
    knob->setInsetValue(4);
    struct Case
    {
        float value;
        CPoint point;
    };
    // radius 20, handle path 16 from the centre; value 0 at 225 degrees, 1 at -45 degrees
    const Case cases[] = {{0.0f, CPoint(9, 31)},
                          {1.0f / 3.0f, CPoint(9, 9)},
                          {0.5f, CPoint(20, 4)},
                          {2.0f / 3.0f, CPoint(31, 9)},
                          {1.0f, CPoint(31, 31)}};
    for (const Case& c : cases)
    {
        knob->setValue(c.value);
        CPoint p;
        knob->valueToPoint(p);
        EXPECT_EQ(p, c.point) << c.value;
    }
    knob->forget();
    handle->forget();

    CKnob* plain = new CKnob(CRect(0, 0, 40, 40), nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(plain->getInsetValue(), 3);
    plain->forget();
}

TEST(KnobGeometry, ValuesUnderPointsAndTheDeadZone)
{
    CKnob* knob = new CKnob(CRect(64, 24, 104, 64), nullptr, 0, nullptr, nullptr);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(20, 0)), 0.5f, 1e-6f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(0, 20)), 45.0f / 270.0f, 1e-6f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(40, 20)), 225.0f / 270.0f, 1e-6f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(5, 35)), 0.0f, 1e-6f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(35, 35)), 1.0f, 1e-6f);
    // the 90-degree gap at the bottom goes to the nearer end, split at the bottom centre
    EXPECT_EQ(knob->valueFromPoint(CPoint(18, 38)), 0.0f);
    EXPECT_EQ(knob->valueFromPoint(CPoint(10, 39)), 0.0f);
    EXPECT_EQ(knob->valueFromPoint(CPoint(22, 38)), 1.0f);
    EXPECT_EQ(knob->valueFromPoint(CPoint(30, 39)), 1.0f);
    knob->forget();
}

TEST(KnobGeometry, PointAndValueRoundTripOverTheArc)
{
    CKnob* knob = new CKnob(CRect(64, 24, 104, 64), nullptr, 0, nullptr, nullptr);
    knob->setInsetValue(4);
    for (int32_t i = 0; i <= 200; ++i)
    {
        const float v = i / 200.0f;
        knob->setValue(v);
        CPoint p;
        knob->valueToPoint(p);
        const double distance = std::hypot(p.h - 20.0, p.v - 20.0);
        EXPECT_NEAR(distance, 16.0, 1.0) << v;
        // rounding moves the point up to half a pixel each way, 0.71 pixels across the
        // 16-pixel path: at most 0.046 radian, 0.0098 of the 270-degree range
        EXPECT_NEAR(knob->valueFromPoint(p), v, 0.0099f) << v;
    }
    knob->forget();
}

TEST(KnobGeometry, AnglesAndRangeFollowTheirSetters)
{
    CKnob* knob = new CKnob(CRect(0, 0, 40, 40), nullptr, 0, nullptr, nullptr);
    knob->setMin(-1.0f);
    knob->setMax(1.0f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(20, 0)), 0.0f, 1e-6f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(5, 35)), -1.0f, 1e-6f);
    knob->setDirty(false);
    knob->setRangeAngle(static_cast<float>(-kPi)); // a half turn: 225 down to 45 degrees
    EXPECT_TRUE(knob->isDirty());
    EXPECT_NEAR(knob->valueFromPoint(CPoint(34, 6)), 1.0f, 1e-5f);
    EXPECT_NEAR(knob->valueFromPoint(CPoint(6, 6)), 0.0f, 1e-5f);
    knob->setDirty(false);
    knob->setStartAngle(static_cast<float>(kPi));
    EXPECT_TRUE(knob->isDirty());
    EXPECT_NEAR(knob->valueFromPoint(CPoint(0, 20)), -1.0f, 1e-5f);
    knob->forget();
}

// ---- knob drags through the window

TEST(KnobDrag, CircularFromTheTopEndThroughTheDeadZoneStaysAtMax)
{
    ControlsFixture f;
    CKnob* knob = f.layout.pitch;
    const CPoint nearEnd = onPitch(36, 30);  // about 0.95
    const CPoint gapRight = onPitch(24, 38); // dead zone, max side
    const CPoint gapLeft = onPitch(16, 38);  // dead zone, min side
    const CPoint lowerLeft = onPitch(4, 34); // active arc near the min end
    f.window->press(
        nearEnd, kLButton,
        {{gapRight, kLButton}, {gapLeft, kLButton}, {lowerLeft, kLButton}, {lowerLeft, 0}});
    ASSERT_FALSE(f.listener.values.empty());
    EXPECT_NEAR(f.listener.values.front(), (225.0 + 32.005) / 270.0, 0.01);
    for (size_t i = 1; i < f.listener.values.size(); ++i)
        EXPECT_EQ(f.listener.values[i], 1.0f) << i;
    EXPECT_EQ(knob->getValue(), 1.0f);
    EXPECT_EQ(f.editor.log.front(), "begin 0");
    EXPECT_EQ(f.editor.log.back(), "end 0");
    EXPECT_GE(f.editor.idleRequests, 4);
    EXPECT_FALSE(f.window->scriptOverrun());
    EXPECT_EQ(f.frame->getFocusView(), knob);
}

TEST(KnobDrag, CircularFollowsAgainOnceBackOnTheArc)
{
    ControlsFixture f;
    f.window->press(onPitch(36, 30), kLButton,
                    {{onPitch(16, 38), kLButton},
                     {onPitch(40, 20), kLButton},
                     {onPitch(20, 0), kLButton},
                     {onPitch(20, 0), 0}});
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.5f, 1e-6f);
    ASSERT_GE(f.listener.values.size(), 3u);
    EXPECT_EQ(f.listener.values[1], 1.0f);
    EXPECT_NEAR(f.listener.values[2], 225.0f / 270.0f, 1e-6f);
}

TEST(KnobDrag, LinearHundredRightAndHundredDownLeavesTheValue)
{
    ControlsFixture f;
    f.editor.knobMode = 2;
    f.layout.pitch->setValue(0.3f);
    f.window->press(
        CPoint(80, 40), kLButton,
        {{CPoint(130, 40), kLButton}, {CPoint(180, 140), kLButton}, {CPoint(180, 140), 0}});
    ASSERT_EQ(f.listener.values.size(), 3u);
    EXPECT_FLOAT_EQ(f.listener.values[0], 0.3f);
    EXPECT_FLOAT_EQ(f.listener.values[1], 0.55f);
    EXPECT_FLOAT_EQ(f.listener.values[2], 0.3f);
    EXPECT_FLOAT_EQ(f.layout.pitch->getValue(), 0.3f);
}

TEST(KnobDrag, LinearClampsToTheRange)
{
    ControlsFixture f;
    f.editor.knobMode = 2;
    f.layout.pitch->setValue(0.9f);
    f.window->press(CPoint(80, 40), kLButton,
                    {{CPoint(80, 0), kLButton},
                     {CPoint(80, -300), kLButton},
                     {CPoint(80, 400), kLButton},
                     {CPoint(80, 400), 0}});
    EXPECT_EQ(f.listener.values.at(1), 1.0f);
    EXPECT_EQ(f.listener.values.at(2), 1.0f);
    EXPECT_EQ(f.layout.pitch->getValue(), 0.0f);
}

TEST(KnobDrag, ShiftPressedMidwayMakesItFinerWithoutAJump)
{
    ControlsFixture f;
    f.editor.knobMode = 2;
    f.layout.pitch->setValue(0.2f);
    f.window->press(CPoint(80, 40), kLButton,
                    {{CPoint(120, 40), kLButton},
                     {CPoint(120, 40), kLButton | kShift},
                     {CPoint(130, 40), kLButton | kShift},
                     {CPoint(160, 40), kLButton | kShift},
                     {CPoint(160, 40), 0}});
    ASSERT_EQ(f.listener.values.size(), 4u);
    EXPECT_NEAR(f.listener.values[1], 0.4f, 1e-6f);
    // 10 more pixels at the old 1/200 per pixel, then 30 at 1/300
    EXPECT_NEAR(f.listener.values[2], 0.45f, 1e-6f);
    EXPECT_NEAR(f.listener.values[3], 0.55f, 1e-6f);
}

TEST(KnobDrag, ShiftHeldFromThePressIsFinerFromTheStart)
{
    ControlsFixture f;
    f.editor.knobMode = 2;
    f.layout.pitch->setValue(0.5f);
    f.window->press(CPoint(80, 40), kLButton | kShift,
                    {{CPoint(110, 40), kLButton | kShift}, {CPoint(110, 40), 0}});
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.6f, 1e-6f);
    EXPECT_EQ(f.listener.modifierClicks, (std::vector<int32_t>{kLButton | kShift}));
}

TEST(KnobDrag, AltSwapsCircularAndLinear)
{
    ControlsFixture f;
    f.layout.pitch->setValue(0.5f);
    f.window->press(CPoint(84, 44), kLButton | kAlt,
                    {{CPoint(104, 44), kLButton | kAlt}, {CPoint(104, 44), 0}});
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.6f, 1e-6f); // linear: 20 pixels right

    f.editor.knobMode = 2;
    f.window->press(onPitch(40, 20), kLButton | kAlt, {{onPitch(40, 20), 0}});
    EXPECT_NEAR(f.layout.pitch->getValue(), 225.0f / 270.0f, 1e-6f); // circular: the angle
}

TEST(KnobDrag, ControlClickResetsToTheDefault)
{
    ControlsFixture f;
    f.layout.pitch->setValue(0.1f);
    f.window->press(onPitch(40, 20), kLButton | kControl);
    EXPECT_EQ(f.layout.pitch->getValue(), 0.5f);
    EXPECT_EQ(f.listener.values, (std::vector<float>{0.5f}));
    EXPECT_EQ(f.listener.modifierClicks, (std::vector<int32_t>{17}));
    EXPECT_EQ(f.editor.log, (std::vector<std::string>{"begin 0", "changed 0", "end 0"}));
    EXPECT_EQ(f.window->pointerReads(), 0); // no tracking
    EXPECT_EQ(f.frame->getFocusView(), f.layout.pitch);
}

TEST(KnobDrag, ControlShiftClickDragsInstead)
{
    ControlsFixture f;
    f.layout.pitch->setValue(0.1f);
    f.window->press(onPitch(40, 20), kLButton | kControl | kShift,
                    {{onPitch(40, 20), kLButton | kControl | kShift}, {onPitch(40, 20), 0}});
    EXPECT_NEAR(f.layout.pitch->getValue(), 225.0f / 270.0f, 1e-6f);
}

TEST(KnobDrag, ListenerCanConsumeModifierClicks)
{
    ControlsFixture f;
    f.listener.consumeModifierClicks = 1;
    f.layout.pitch->setValue(0.1f);
    f.window->press(onPitch(40, 20), kLButton | kControl);
    f.window->press(onPitch(40, 20), kLButton | kAlt, {{onPitch(40, 20), 0}});
    EXPECT_EQ(f.layout.pitch->getValue(), 0.1f);
    EXPECT_TRUE(f.listener.values.empty());
    EXPECT_EQ(f.listener.modifierClicks.size(), 2u);
    EXPECT_TRUE(f.editor.log.empty());
}

TEST(KnobDrag, OtherButtonsAndDisabledKnobsAreIgnored)
{
    ControlsFixture f;
    f.layout.pitch->setValue(0.1f);
    f.window->press(onPitch(40, 20), kRButton, {{onPitch(40, 20), 0}});
    f.window->press(onPitch(40, 20), kMButton, {{onPitch(40, 20), 0}});
    f.layout.pitch->setMouseEnabled(false);
    f.window->press(onPitch(40, 20), kLButton, {{onPitch(40, 20), 0}});
    EXPECT_EQ(f.layout.pitch->getValue(), 0.1f);
    EXPECT_TRUE(f.editor.log.empty());
}

// ---- wheel and keys

TEST(KnobWheel, NotchesMoveByTheIncrementClampedToTheRange)
{
    ControlsFixture f;
    f.window->setParentScreenPosition(CPoint(300, 200));
    CKnob* knob = f.layout.formant;
    knob->setValue(0.95f);
    f.window->wheel(CPoint(84, 92), 1.0f);
    EXPECT_EQ(knob->getValue(), 1.0f);
    EXPECT_EQ(f.editor.log, (std::vector<std::string>{"begin 1", "changed 1", "end 1"}));
    f.window->wheel(CPoint(84, 92), -1.0f, kShift);
    EXPECT_NEAR(knob->getValue(), 0.99f, 1e-6f);
    f.window->wheel(CPoint(84, 92), -3.0f);
    EXPECT_NEAR(knob->getValue(), 0.69f, 1e-6f);
    f.window->wheel(CPoint(84, 92), -30.0f);
    EXPECT_EQ(knob->getValue(), 0.0f);
    EXPECT_EQ(f.layout.pitch->getValue(), 0.0f);

    knob->setMouseEnabled(false);
    EXPECT_FALSE(knob->onWheel(nullptr, CPoint(84, 92), 1.0f));
    EXPECT_EQ(knob->getValue(), 0.0f);
}

TEST(KnobKeys, ArrowKeysChangeOnlyTheFocusedKnob)
{
    ControlsFixture f;
    f.layout.formant->setValue(0.2f);
    f.window->press(onPitch(20, 0), kLButton, {{onPitch(20, 0), 0}}); // takes the focus
    ASSERT_EQ(f.frame->getFocusView(), f.layout.pitch);
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.5f, 1e-6f);
    f.editor.log.clear();

    auto key = [&](uint8_t virt, uint8_t modifier = 0)
    {
        CKeyCode k;
        k.virt = virt;
        k.modifier = modifier;
        return f.frame->onKeyDown(k);
    };
    EXPECT_EQ(key(kKeyRight), 1);
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.6f, 1e-6f);
    EXPECT_EQ(key(kKeyUp), 1);
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.7f, 1e-6f);
    EXPECT_EQ(key(kKeyLeft), 1);
    EXPECT_EQ(key(kKeyDown), 1);
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.5f, 1e-6f);
    EXPECT_EQ(key(kKeyRight, kKeyModifierShift), 1);
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.51f, 1e-6f);
    EXPECT_EQ(key(0), -1);
    EXPECT_EQ(key(kKeyUp + 20), -1);
    EXPECT_NEAR(f.layout.pitch->getValue(), 0.51f, 1e-6f);
    EXPECT_EQ(f.layout.formant->getValue(), 0.2f);
    EXPECT_EQ(f.editor.log.front(), "begin 0");
    EXPECT_EQ(f.editor.log.size(), 15u); // five handled keys, each begin, change, end

    f.layout.pitch->setValue(1.0f);
    EXPECT_EQ(key(kKeyRight), 1);
    EXPECT_EQ(f.layout.pitch->getValue(), 1.0f);
}

// ---- switches

TEST(Switch, AnyNonZeroValueShowsTheOnHalf)
{
    ControlsFixture f;
    ASSERT_TRUE(f.window->paint());
    f.layout.notes[0]->setValue(0.3f);
    f.layout.notes[1]->setValue(0.0f);
    f.layout.notes[2]->setValue(-0.2f);
    f.layout.scale->setValue(1.0f);
    f.frame->idle();
    // lamps: note switches centred 8 pixels in and 55 down, the Scale lamp at (8, 8)
    EXPECT_EQ(f.window->pixel(CPoint(192 + 8, 48 + 55)), kGreen254);
    EXPECT_EQ(f.window->pixel(CPoint(208 + 8, 48 + 55)), kOpaqueBlack);
    EXPECT_EQ(f.window->pixel(CPoint(224 + 8, 48 + 55)), kGreen254);
    EXPECT_EQ(f.window->pixel(CPoint(192 + 8, 28 + 8)), kGreen254);
    if (f.window->pixel(CPoint(200, 103)) != kGreen254)
        saveImage(f.window->image(), "switch_on_half");
}

TEST(Switch, ClickTogglesOnTheIntegerPart)
{
    ControlsFixture f;
    ASSERT_TRUE(f.window->paint());
    COnOffButton* c = f.layout.notes[0];
    const CPoint lamp(200, 103);
    c->setValue(0.3f);
    f.window->press(lamp, kLButton);
    EXPECT_EQ(c->getValue(), 1.0f);
    EXPECT_EQ(f.window->pixel(lamp), kGreen254);
    f.window->press(lamp, kLButton);
    EXPECT_EQ(c->getValue(), 0.0f);
    EXPECT_EQ(f.window->pixel(lamp), kOpaqueBlack); // redrawn by the idle request
    c->setValue(1.7f);
    f.window->press(lamp, kLButton);
    EXPECT_EQ(c->getValue(), 0.0f);
    c->setValue(-0.5f);
    f.window->press(lamp, kLButton);
    EXPECT_EQ(c->getValue(), 1.0f);
    EXPECT_EQ(f.listener.values, (std::vector<float>{1.0f, 0.0f, 0.0f, 1.0f}));
    EXPECT_EQ(f.listener.tags, (std::vector<int32_t>{3, 3, 3, 3}));
    EXPECT_EQ(f.window->pointerReads(), 0); // a click, no tracking
}

TEST(Switch, StyleDecidesWhetherTheListenerHearsBeforeOrAfterTheRepaint)
{
    ControlsFixture f;
    f.window->press(CPoint(216, 80), kLButton);
    EXPECT_EQ(f.editor.log, (std::vector<std::string>{"idle", "begin 4", "changed 4", "end 4"}));
    f.editor.log.clear();
    f.layout.notes[1]->setStyle(kPreListenerUpdate);
    f.window->press(CPoint(216, 80), kLButton);
    EXPECT_EQ(f.editor.log, (std::vector<std::string>{"begin 4", "changed 4", "end 4", "idle"}));
    // switches do not keep the focus for keys
    EXPECT_FALSE(f.layout.notes[1]->wantsFocus());
}

// ---- read-outs

TEST(Readout, LongTextIsClippedToItsBox)
{
    ControlsFixture f;
    f.layout.pitchDisplay->setText("+123456789.0 semitones");
    ASSERT_TRUE(f.window->paint());
    CBitmap* background = new CBitmap(102);
    int32_t outsideChanged = 0;
    int32_t white = 0;
    for (int32_t y = 36; y < 60; ++y)
        for (int32_t x = 105; x < 192; ++x)
        {
            const CColor c = f.window->pixel(CPoint(x, y));
            const bool inBox = x >= 112 && x < 144 && y >= 42 && y < 54;
            if (inBox)
                white += c.red > 200 && c.green > 200 && c.blue > 200;
            else if (c != bitmapPixel(*background, x, y))
                ++outsideChanged;
        }
    EXPECT_EQ(outsideChanged, 0);
    EXPECT_GT(white, 10);
    // the box: black fill and black frame
    EXPECT_EQ(f.window->pixel(CPoint(112, 42)), kOpaqueBlack);
    EXPECT_EQ(f.window->pixel(CPoint(143, 53)), kOpaqueBlack);
    if (outsideChanged) saveImage(f.window->image(), "readout_clip");
    background->forget();
}

TEST(Readout, ShortTextIsCentred)
{
    ControlsFixture f;
    ASSERT_TRUE(f.window->paint());
    int32_t first = 1000, last = -1;
    for (int32_t y = 42; y < 54; ++y)
        for (int32_t x = 112; x < 144; ++x)
            if (f.window->pixel(CPoint(x, y)).red > 128)
            {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    ASSERT_GE(last, first);
    EXPECT_NEAR((first + last + 1) / 2.0, 128.0, 1.5);
}

TEST(Readout, ValueDisplayFormatsOrConverts)
{
    CParamDisplay* display = new CParamDisplay(CRect(0, 0, 60, 20));
    CTextLabel* label = new CTextLabel(CRect(0, 0, 60, 20), "0.25");
    display->setValue(0.25f);
    for (CParamDisplay* d : {display, static_cast<CParamDisplay*>(label)})
        d->setTextTransparency(false);
    Canvas a(60, 20, kRedCColor), b(60, 20, kRedCColor);
    display->draw(a.context);
    label->draw(b.context);
    EXPECT_TRUE(a.samePixels(b));
    EXPECT_FALSE(display->isDirty());

    display->setStringConvert(
        [](float value, char* text)
        { std::snprintf(text, 256, "%d%%", static_cast<int>(value * 100.0f)); });
    static int calls = 0;
    display->setStringConvert2(
        [](float, char* text, void* data)
        {
            ++*static_cast<int*>(data);
            std::snprintf(text, 256, "x");
        },
        &calls);
    label->setText("x");
    Canvas c(60, 20, kRedCColor), d(60, 20, kRedCColor);
    display->draw(c.context);
    label->draw(d.context);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(c.samePixels(d));
    display->forget();
    label->forget();
}

TEST(Readout, StylesThatSkipDrawing)
{
    RecordingSurface surface;
    CDrawContext* context = new CDrawContext(nullptr, &surface, nullptr);
    CTextLabel* label = new CTextLabel(CRect(10, 10, 50, 22), "text", nullptr, 8);
    label->draw(context);
    ASSERT_EQ(surface.texts.size(), 1u);
    EXPECT_EQ(surface.fills, (std::vector<CRect>{CRect(11, 11, 50, 22)})); // the box
    EXPECT_EQ(surface.points.size(), 5u);                                  // and its frame
    EXPECT_EQ(surface.textBoxes[0], CRect(10, 10, 50, 22));
    EXPECT_FALSE(surface.textOpaque[0]);
    label->setTextTransparency(false);
    label->setStyle(kNoFrame | kShadowText);
    label->setTransparency(true);
    label->draw(context);
    EXPECT_EQ(surface.texts.size(), 3u); // shadow and text
    EXPECT_EQ(surface.fills.size(), 1u); // a transparent view draws no box
    EXPECT_EQ(surface.textBoxes[1], CRect(11, 11, 51, 23));
    EXPECT_TRUE(surface.textOpaque[2]);
    label->setStyle(kNoTextStyle);
    label->draw(context);
    label->setStyle(kNoDrawStyle);
    label->setText(nullptr);
    EXPECT_EQ(label->getText(), nullptr);
    label->setStyle(0);
    label->draw(context);
    EXPECT_EQ(surface.texts.size(), 3u);
    EXPECT_FALSE(label->isDirty());
    label->forget();
    context->forget();
}

TEST(Readout, BoxAndFrameAndThreeDimensionalEdges)
{
    Canvas canvas(40, 30, kRedCColor);
    const CColor blue{0, 0, 255, 255};
    CTextLabel* label = new CTextLabel(CRect(5, 5, 25, 20), nullptr);
    label->setBackColor(blue);
    label->setFrameColor(kWhiteCColor);
    label->draw(canvas.context);
    EXPECT_EQ(canvas.pixel(5, 5), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(24, 19), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(15, 12), blue);
    EXPECT_EQ(canvas.pixel(25, 12), kRedCColor);
    label->setStyle(k3DIn);
    label->draw(canvas.context);
    EXPECT_EQ(canvas.pixel(5, 12), blue);          // left edge in the back colour
    EXPECT_EQ(canvas.pixel(24, 12), kWhiteCColor); // right edge in the frame colour
    label->forget();
}

// ---- dirty tracking and defaults

TEST(ControlState, DirtyWhenTheValueDiffersFromTheOneDrawn)
{
    Canvas canvas(20, 20);
    COnOffButton* button = new COnOffButton(CRect(0, 0, 16, 16), nullptr, 7, nullptr);
    EXPECT_TRUE(button->isDirty()); // new controls are drawn once
    EXPECT_EQ(button->getOldValue(), -1.0f);
    button->draw(canvas.context);
    EXPECT_FALSE(button->isDirty());
    button->setValue(0.5f);
    EXPECT_TRUE(button->isDirty());
    button->setDirty(false);
    EXPECT_FALSE(button->isDirty());
    EXPECT_EQ(button->getOldValue(), 0.5f);
    button->setValue(-1.0f);
    button->setDirty(true);
    EXPECT_EQ(button->getOldValue(), 0.0f);
    button->setValue(std::nanf(""));
    button->setDirty(false);
    EXPECT_TRUE(button->isDirty());
    EXPECT_EQ(button->getTag(), 7);
    EXPECT_EQ(button->getDefaultValue(), 0.5f);
    EXPECT_EQ(button->getMin(), 0.0f);
    EXPECT_EQ(button->getMax(), 1.0f);
    EXPECT_NEAR(button->getWheelInc(), 0.1f, 1e-7f);
    button->forget();
}

TEST(ControlState, DefaultValueOnlyForExactlyLeftAndControl)
{
    TestListener listener;
    CKnob* knob = new CKnob(CRect(0, 0, 40, 40), &listener, 0, nullptr, nullptr);
    knob->setValue(0.2f);
    EXPECT_FALSE(knob->checkDefaultValue(nullptr, kControl));
    EXPECT_FALSE(knob->checkDefaultValue(nullptr, kLButton | kControl | kShift));
    EXPECT_FALSE(knob->checkDefaultValue(nullptr, kLButton | kControl | kAlt));
    EXPECT_FALSE(knob->checkDefaultValue(nullptr, kLButton));
    EXPECT_EQ(knob->getValue(), 0.2f);
    knob->setDefaultValue(0.75f);
    EXPECT_TRUE(knob->checkDefaultValue(nullptr, 17));
    EXPECT_EQ(knob->getValue(), 0.75f);
    EXPECT_EQ(listener.values, (std::vector<float>{0.75f}));
    knob->forget();
}

TEST(ControlState, BounceKeepsTheValueInRange)
{
    COnOffButton* c = new COnOffButton(CRect(0, 0, 1, 1), nullptr, 0, nullptr);
    c->setValue(3.0f);
    c->bounceValue();
    EXPECT_EQ(c->getValue(), 1.0f);
    c->setValue(-3.0f);
    c->bounceValue();
    EXPECT_EQ(c->getValue(), 0.0f);
    c->setValue(0.4f);
    c->bounceValue();
    EXPECT_EQ(c->getValue(), 0.4f);
    c->forget();
}

TEST(ControlState, DisplaySettersMarkDirtyOnlyOnChange)
{
    CParamDisplay* display = new CParamDisplay(CRect(0, 0, 10, 10));
    display->setDirty(false);
    display->setFont(3);
    display->setFontColor(kWhiteCColor);
    display->setBackColor(kBlackCColor);
    display->setFrameColor(kBlackCColor);
    display->setShadowColor(kRedCColor);
    display->setHoriAlign(kCenterText);
    display->setStyle(0);
    display->setTxtFace(0);
    EXPECT_FALSE(display->isDirty());
    display->setFont(4);
    EXPECT_TRUE(display->isDirty());
    display->setDirty(false);
    display->setFontColor(kRedCColor);
    EXPECT_TRUE(display->isDirty());
    display->setDirty(false);
    display->setHoriAlign(kLeftText);
    EXPECT_TRUE(display->isDirty());
    display->forget();
}

// ---- knob pictures

TEST(KnobPicture, HandleDotFollowsTheValue)
{
    ControlsFixture f;
    ASSERT_TRUE(f.window->paint());
    for (float v : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f})
    {
        f.layout.pitch->setValue(v);
        f.frame->idle();
        const double angle = (225.0 - 270.0 * v) * kPi / 180.0;
        const double wantX = 64 + 20 + 16 * std::cos(angle);
        const double wantY = 24 + 20 - 16 * std::sin(angle);
        const auto got = handleCentre(f.window, 64, 24);
        EXPECT_NEAR(got.first, wantX, 1.0) << v;
        EXPECT_NEAR(got.second, wantY, 1.0) << v;
        if (std::fabs(got.first - wantX) > 1.0 || std::fabs(got.second - wantY) > 1.0)
            saveImage(f.window->image(), "knob_handle");
        EXPECT_FALSE(f.layout.pitch->isDirty());
    }
    // the other knob kept its handle at its own value (0: lower left)
    const auto other = handleCentre(f.window, 64, 72);
    EXPECT_NEAR(other.first, 64 + 20 - 16 * std::sqrt(0.5), 1.0);
    EXPECT_NEAR(other.second, 72 + 20 + 16 * std::sqrt(0.5), 1.0);
}

TEST(KnobPicture, WithoutAHandleBitmapTheHandleIsTwoLines)
{
    Canvas canvas(60, 60);
    CKnob* knob = new CKnob(CRect(10, 10, 50, 50), nullptr, 0, nullptr, nullptr);
    knob->setValue(0.5f); // straight up
    knob->draw(canvas.context);
    // shadow from (19, 3) down towards the centre, the handle one pixel right and up
    EXPECT_EQ(canvas.pixel(10 + 19, 10 + 10), kGreyCColor);
    EXPECT_EQ(canvas.pixel(10 + 20, 10 + 10), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(10 + 21, 10 + 10), kOpaqueBlack);
    EXPECT_EQ(canvas.pixel(10 + 20, 10 + 2), kWhiteCColor);
    EXPECT_EQ(canvas.pixel(10 + 19, 10 + 2), kOpaqueBlack);
    knob->forget();
}
