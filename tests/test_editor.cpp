// The editor as a host and a user meet it: host opcodes through the effect record, the user's hand
// through the headless window, and the host callback's view of every gesture.
#include "gui_support.h"
#include "livegui.h"
#include "livevst.h"
#include "lv2kinds.h"
#include "pluginhost.h"
#include "uieffect.h"
#include "vexilvst.h"
#include "vstgui.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace VSTGUI;
using guitest::kGreen254;
using guitest::kOpaqueBlack;
using platform::HeadlessWindow;
using platform::InputState;

namespace
{

struct HostCall
{
    VstInt32 opcode;
    VstInt32 index;
    float opt;
};

// A host: answers the version query and records every other call.
struct RecordingHost
{
    std::vector<HostCall> calls;

    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                              float opt)
    {
        if (opcode == audioMasterVersion)
            return 2400;
        if (effect && effect->user)
            static_cast<RecordingHost*>(effect->user)->calls.push_back({opcode, index, opt});
        return 0;
    }

    // The calls as text, idle requests left out: "begin 0", "automate 0 0.75", "end 0".
    std::vector<std::string> gestures() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
        {
            if (c.opcode == audioMasterBeginEdit)
                out.push_back("begin " + std::to_string(c.index));
            else if (c.opcode == audioMasterEndEdit)
                out.push_back("end " + std::to_string(c.index));
            else if (c.opcode == audioMasterAutomate)
                out.push_back("automate " + std::to_string(c.index));
        }
        return out;
    }
};

class Editor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        effect = std::make_unique<VexilVST>(RecordingHost::callback);
        record = effect->getAeffect();
        record->user = &host;
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f)
    {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }

    void open()
    {
        ASSERT_EQ(dispatch(effEditOpen, 0, 0, guitest::hostWindow()), 1);
        gui = dynamic_cast<VstGui*>(effect->getEditor());
        ASSERT_NE(gui, nullptr);
        ASSERT_NE(gui->getFrame(), nullptr);
        window = static_cast<HeadlessWindow*>(gui->getFrame()->getPlatformWindow());
        ASSERT_NE(window, nullptr);
        // The host's first paint, then its idle calls draw whatever changed.
        window->invalidate(CRect(0, 0, window->width(), window->height()));
        window->paint();
    }

    void idle() { dispatch(effEditIdle); }

    // A click: press and release at the same point.
    void click(const CPoint& where, int32_t buttons = kLButton)
    {
        window->press(where, buttons, {{where, buttons}, {where, 0}});
        idle();
    }

    std::unique_ptr<AudioEffectX> effect;
    AEffect* record = nullptr;
    RecordingHost host;
    VstGui* gui = nullptr;
    HeadlessWindow* window = nullptr;
};

const CPoint kPitchKnobCentre(84, 44);
const CPoint kScaleLamp(200, 36);

CPoint noteLamp(int i) { return CPoint(192 + 16 * i + 8, 103); }

} // namespace

TEST_F(Editor, RectangleBeforeOpenAndSeventeenViewsAfter)
{
    ERect* rect = nullptr;
    ASSERT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 128);
    EXPECT_EQ(rect->right, 512);
    EXPECT_EQ(record->flags & effFlagsHasEditor, effFlagsHasEditor);

    open();
    EXPECT_EQ(gui->getFrame()->getNbViews(), 17);
    EXPECT_EQ(window->width(), 512);
    EXPECT_EQ(window->height(), 128);
    EXPECT_EQ(window->title(), "Window");
    EXPECT_EQ(window->className().rfind("Plugin", 0), 0u);
    EXPECT_FLOAT_EQ(gui->getPitchKnob()->getValue(), 0.5f);
    EXPECT_STREQ(gui->getPitchDisplay()->getText(), "+0.0");
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(gui->getNoteSwitch(i)->getValue(), 1.0f);
    EXPECT_EQ(gui->getScaleSwitch()->getValue(), 0.0f);
}

TEST_F(Editor, KnobDragReachesTheHostAsOneGesture)
{
    open();
    // Circular mode: the value follows the angle of the pointer around the knob's centre.
    const CPoint top(84, 25), right(103, 44);
    window->press(top, kLButton, {{top, kLButton}, {right, kLButton}, {right, 0}});
    const auto gestures = host.gestures();
    ASSERT_GE(gestures.size(), 3u);
    EXPECT_EQ(gestures.front(), "begin 0");
    EXPECT_EQ(gestures.back(), "end 0");
    for (size_t k = 1; k + 1 < gestures.size(); ++k)
        EXPECT_EQ(gestures[k], "automate 0");
    // Pointing right is 225 of the arc's 270 degrees: about +8 semitones.
    EXPECT_NEAR(effect->getParameter(0), 225.0 / 270.0, 0.01);
    idle();
    char expected[16];
    std::snprintf(expected, sizeof expected, "%+.1f", (effect->getParameter(0) - 0.5) * 24.0);
    EXPECT_STREQ(gui->getPitchDisplay()->getText(), expected);
    // The automation carried the control's value to the host.
    EXPECT_NEAR(host.calls[host.calls.size() - 2].opt, gui->getPitchKnob()->getValue(), 1e-6);
}

TEST_F(Editor, SwitchClickAndWheelNotchAreGesturesToo)
{
    open();
    click(noteLamp(0)); // C off
    EXPECT_EQ(host.gestures(), (std::vector<std::string>{"begin 3", "automate 3", "end 3"}));
    EXPECT_EQ(effect->getParameter(3), 0.0f);

    host.calls.clear();
    window->wheel(kPitchKnobCentre, 1.0f);
    EXPECT_EQ(host.gestures(), (std::vector<std::string>{"begin 0", "automate 0", "end 0"}));
    EXPECT_NEAR(gui->getPitchKnob()->getValue(), 0.6f, 1e-6);
    EXPECT_NEAR(effect->getParameter(0), 240.0f / 2400.0f + 0.5f, 1e-6); // +2.4 semitones

    host.calls.clear();
    window->wheel(noteLamp(3), 1.0f); // over a switch: nothing
    EXPECT_TRUE(host.gestures().empty());
}

TEST_F(Editor, HostValueShowsOnTheSwitchAsTheControlReadsIt)
{
    open();
    record->setParameter(record, 2, 0.3f);
    EXPECT_EQ(effect->getParameter(2), 0.0f); // the effect rounds: off
    idle();
    EXPECT_EQ(window->pixel(kScaleLamp), kGreen254); // the switch shows any non-zero value as on
    click(kScaleLamp);
    EXPECT_EQ(gui->getScaleSwitch()->getValue(), 1.0f); // toggles on the integer part of 0.3
    EXPECT_EQ(effect->getParameter(2), 1.0f);
}

TEST_F(Editor, QuantisedHostValueKeepsTheKnobAndShowsTheEffectsText)
{
    open();
    record->setParameter(record, 0, 0.5021f);
    EXPECT_EQ(gui->getPitchKnob()->getValue(), 0.5021f);
    EXPECT_STREQ(gui->getPitchDisplay()->getText(), "+0.0");
    record->setParameter(record, 1, 0.76f);
    EXPECT_STREQ(gui->getFormantDisplay()->getText(), "+6.2");
}

TEST_F(Editor, UpdatesBeyondTheParametersOrWhileClosedChangeNothing)
{
    gui = dynamic_cast<VstGui*>(effect->getEditor());
    gui->updateControl(0, 0.9f); // closed: nothing to update
    open();
    EXPECT_FLOAT_EQ(gui->getPitchKnob()->getValue(), 0.5f);
    gui->updateControl(15, 0.0f);
    gui->updateControl(-1, 0.0f);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(gui->getNoteSwitch(i)->getValue(), 1.0f);
    EXPECT_EQ(gui->getScaleSwitch()->getValue(), 0.0f);
}

TEST_F(Editor, SharedEdgeGoesToTheLaterSwitch)
{
    open();
    click(CPoint(208, 80)); // the column shared by C and C#
    EXPECT_EQ(effect->getParameter(3), 1.0f); // C unchanged
    EXPECT_EQ(effect->getParameter(4), 0.0f); // C# toggled
}

TEST_F(Editor, ControlClickResetsTheKnob)
{
    open();
    record->setParameter(record, 0, 0.9f);
    click(kPitchKnobCentre, kLButton | kControl);
    EXPECT_EQ(gui->getPitchKnob()->getValue(), 0.5f);
    EXPECT_EQ(effect->getParameter(0), 0.5f); // 0 cents
    EXPECT_EQ(host.gestures(), (std::vector<std::string>{"begin 0", "automate 0", "end 0"}));
}

TEST_F(Editor, ReopeningShowsCurrentValuesAndReusesTheWindowClass)
{
    const int32_t registrationsBefore = platform::headless::classRegistrations();
    open();
    EXPECT_EQ(platform::headless::classRegistrations(), registrationsBefore + 1);
    dispatch(effEditClose);
    EXPECT_EQ(gui->getFrame(), nullptr);
    EXPECT_TRUE(gui->isOpen()); // the last parent window is kept
    EXPECT_EQ(platform::headless::liveWindows(), 0);

    record->setParameter(record, 0, 0.25f);
    record->setParameter(record, 9, 0.0f);
    open();
    EXPECT_EQ(gui->getPitchKnob()->getValue(), 0.25f);
    EXPECT_STREQ(gui->getPitchDisplay()->getText(), "-6.0");
    EXPECT_EQ(gui->getNoteSwitch(6)->getValue(), 0.0f);
    // The class was unregistered when its count fell to 0, so it was registered again.
    EXPECT_EQ(platform::headless::classRegistrations(), registrationsBefore + 2);

    // A second editor open at the same time shares the registration.
    VexilVST other(RecordingHost::callback);
    AEffect* otherRecord = other.getAeffect();
    otherRecord->dispatcher(otherRecord, effEditOpen, 0, 0, guitest::hostWindow(), 0.0f);
    EXPECT_EQ(platform::headless::classRegistrations(), registrationsBefore + 2);
    EXPECT_EQ(CFrame::getWindowClassUseCount(), 2);
    otherRecord->dispatcher(otherRecord, effEditClose, 0, 0, nullptr, 0.0f);
}

TEST_F(Editor, ArrowKeysMoveOnlyTheKnobThatWasTouched)
{
    open();
    // Untouched: nothing has the focus.
    EXPECT_EQ(dispatch(effEditKeyDown, 0, VKEY_UP), 0);
    EXPECT_EQ(effect->getParameter(0), 0.5f);

    window->wheel(kPitchKnobCentre, 1.0f); // a gesture gives the knob the focus
    EXPECT_EQ(dispatch(effEditKeyDown, 0, VKEY_UP), 1);
    EXPECT_NEAR(gui->getPitchKnob()->getValue(), 0.7f, 1e-6);
    EXPECT_EQ(dispatch(effEditKeyDown, 0, VKEY_DOWN, nullptr, MODIFIER_SHIFT), 1);
    EXPECT_NEAR(gui->getPitchKnob()->getValue(), 0.69f, 1e-6);
    EXPECT_EQ(dispatch(effEditKeyDown, 'a', 0), 0); // not an arrow: not taken
    EXPECT_EQ(dispatch(effEditKeyUp, 0, VKEY_UP), 0);

    click(CPoint(20, 120)); // the background takes no press but clears the focus
    EXPECT_EQ(dispatch(effEditKeyDown, 0, VKEY_UP), 0);
    EXPECT_NEAR(gui->getPitchKnob()->getValue(), 0.69f, 1e-6);
}

TEST_F(Editor, KnobModeLinearFollowsMovementNotAngle)
{
    open();
    ASSERT_EQ(dispatch(effSetEditKnobMode, 0, 2), 1);
    // 20 pixels right and 20 up: 40 of the 200 pixels that span the range.
    const CPoint start = kPitchKnobCentre, end(104, 24);
    window->press(start, kLButton, {{start, kLButton}, {end, kLButton}, {end, 0}});
    EXPECT_NEAR(gui->getPitchKnob()->getValue(), 0.7f, 1e-5);
    dispatch(effSetEditKnobMode, 0, 0);
}

TEST_F(Editor, KeysWheelAndIdleWithoutAnOpenEditorDoNothing)
{
    EXPECT_EQ(dispatch(effEditKeyDown, 0, VKEY_UP), 0);
    EXPECT_EQ(dispatch(effEditKeyUp, 0, VKEY_UP), 0);
    dispatch(effEditIdle);
    dispatch(effEditClose);
    EXPECT_FALSE(effect->getEditor()->onWheel(1.0f));
    EXPECT_EQ(effect->getParameter(0), 0.5f);
}

TEST_F(Editor, UpdatesFromAnotherThreadAppearAtTheNextIdle)
{
    open();
    std::thread automation([&] { record->setParameter(record, 0, 1.0f); });
    automation.join();
    EXPECT_FLOAT_EQ(effect->getParameter(0), 1.0f);
    EXPECT_FLOAT_EQ(gui->getPitchKnob()->getValue(), 0.5f); // not touched from that thread
    idle();
    EXPECT_FLOAT_EQ(gui->getPitchKnob()->getValue(), 1.0f);
    EXPECT_STREQ(gui->getPitchDisplay()->getText(), "+12.0");
}

TEST_F(Editor, PixelsFollowTheParameters)
{
    open();
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(window->pixel(noteLamp(i)), kGreen254) << i;
    EXPECT_EQ(window->pixel(kScaleLamp), kOpaqueBlack);

    // The handle dot sits on the arc 16 pixels from the centre (radius 20, inset 4).
    auto handleAt = [&](double degrees)
    {
        const double a = degrees * M_PI / 180.0;
        return CPoint(static_cast<int32_t>(std::lround(84 + 16 * std::cos(a))),
                      static_cast<int32_t>(std::lround(44 - 16 * std::sin(a))));
    };
    EXPECT_EQ(window->pixel(handleAt(90)), kGreen254); // 0.5: straight up
    EXPECT_NE(window->pixel(handleAt(225)), kGreen254);

    // Pitch fully down, Scale on, E off: redrawn at the host's next idle call.
    record->setParameter(record, 0, 0.0f);
    record->setParameter(record, 2, 1.0f);
    record->setParameter(record, 7, 0.0f);
    idle();
    EXPECT_EQ(window->pixel(handleAt(225)), kGreen254); // the start of the arc, lower left
    EXPECT_NE(window->pixel(handleAt(90)), kGreen254);
    EXPECT_EQ(window->pixel(kScaleLamp), kGreen254);
    EXPECT_EQ(window->pixel(noteLamp(4)), kOpaqueBlack);
    EXPECT_EQ(window->pixel(noteLamp(3)), kGreen254);

    // The read-out's text changed: its box now holds white pixels of "-12.0" where "+0.0" had
    // fewer.
    int white = 0;
    for (int32_t y = 42; y < 54; ++y)
        for (int32_t x = 112; x < 144; ++x)
        {
            const CColor c = window->pixel(CPoint(x, y));
            white += (c.red > 128 && c.green > 128 && c.blue > 128) ? 1 : 0;
        }
    EXPECT_GT(white, 10);
}

// Halvern Live's editor: Halvern's with a Retune row, linear knobs until the host asks for circular
// ones, no change from a press that does not move, and wheel notches of a semitone or 10 ms.
class LiveEditor : public Editor
{
protected:
    void SetUp() override
    {
        effect = std::make_unique<LiveVST>(RecordingHost::callback);
        record = effect->getAeffect();
        record->user = &host;
        dispatch(effSetEditKnobMode, 0, -1); // no host preference (the mode is process-wide)
        open();
    }

    LiveGui* live() const { return dynamic_cast<LiveGui*>(gui); }
    void drag(const CPoint& from, const CPoint& to)
    {
        window->press(from, kLButton, {{from, kLButton}, {to, kLButton}, {to, 0}});
        idle();
    }
    std::string text(VstInt32 index)
    {
        char buffer[16] = {};
        dispatch(effGetParamDisplay, index, 0, buffer);
        return buffer;
    }
};

const CPoint kRetuneKnobCentre(84, 140);

TEST_F(LiveEditor, KnobsDragUpAndDownAndAStillPressChangesNothing)
{
    drag(kPitchKnobCentre, CPoint(84, 4)); // 40 of the 200 pixels that span the range
    EXPECT_EQ(text(0), "+4.8");
    drag(kRetuneKnobCentre, CPoint(84, 150)); // 10 pixels down: 20 ms
    EXPECT_EQ(text(15), "30");

    // Circular, where the host asks for it: still a still press changes nothing, in either mode.
    ASSERT_EQ(dispatch(effSetEditKnobMode, 0, 0), 1);
    for (const CPoint& p : {kPitchKnobCentre, CPoint(103, 44), kRetuneKnobCentre})
    {
        host.calls.clear();
        drag(p, p);
        for (const auto& g : host.gestures())
            EXPECT_EQ(g.rfind("automate", 0), std::string::npos) << g;
    }
    EXPECT_EQ(text(0), "+4.8");
    drag(CPoint(84, 25), CPoint(103, 44)); // pointing right: 225 of 270 degrees
    EXPECT_EQ(text(0), "+8.0");
    dispatch(effSetEditKnobMode, 0, -1);
}

TEST_F(LiveEditor, RetuneRowAndWheelNotchesOfASemitoneOrTenMillisecondsATenthWithShift)
{
    EXPECT_EQ(window->height(), 168);
    EXPECT_STREQ(live()->getRetuneDisplay()->getText(), "50");
    for (int notch = 0; notch < 7; ++notch)
        window->wheel(kPitchKnobCentre, 1.0f);
    window->wheel(kPitchKnobCentre, -1.0f, kShift);
    EXPECT_EQ(text(0), "+6.9");
    for (int notch = 0; notch < 9; ++notch)
        window->wheel(CPoint(84, 92), -1.0f); // Formant
    EXPECT_EQ(text(1), "-9.0");
    window->wheel(kRetuneKnobCentre, 1.0f);
    window->wheel(kRetuneKnobCentre, 1.0f, kShift);
    idle();
    EXPECT_STREQ(live()->getRetuneDisplay()->getText(), "61");
    click(kRetuneKnobCentre, kLButton | kControl);
    EXPECT_EQ(text(15), "50");
}

// Keys held on a MIDI keyboard light their lamps at the next idle, the switches untouched, even
// one the host turns off meanwhile; released, the lamps show the switches again. Live's LV2 UI
// lights them from its held port.
TEST_F(LiveEditor, LampsShowTheKeysHeldOnAKeyboard)
{
    dispatch(effMainsChanged, 0, 1);
    const auto keys = [&](unsigned char status, std::initializer_list<int> lit)
    {
        MidiEvents<2> list;
        list.add(0, {status, 60, 100});
        list.add(0, {status, 79, 100});
        dispatch(effProcessEvents, 0, 0, list.list.get());
        float audio[64] = {}, *io[1] = {audio};
        record->processReplacing(record, io, io, 64);
        idle();
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(window->pixel(noteLamp(i)),
                      std::count(lit.begin(), lit.end(), i) ? kGreen254 : kOpaqueBlack)
                << i;
    };
    keys(0x90, {0, 7}); // C and G
    record->setParameter(record, 3, 0.0f);
    keys(0x90, {0, 7});
    for (int p = 4; p < 15; ++p)
        EXPECT_EQ(effect->getParameter(p), 1.0f) << p;
    keys(0x80, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});

    UiEffect ui([](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {}, nullptr,
                nullptr, halvernlv2::kUi.parameters, halvernlv2::kUi.heldPort);
    VstGui* editor = halvernlv2::kUi.make(&ui); // the effect owns it
    ASSERT_TRUE(editor->open(guitest::hostWindow()));
    ui.portChanged(halvernlv2::kLivePorts.held(), 2049.0f); // bits 0 and 11: A and G#
    editor->idle();
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(editor->getNoteSwitch(i)->getValue(), i == 8 || i == 9 ? 1.0f : 0.0f) << i;
    editor->close();
}
