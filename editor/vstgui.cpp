#include "vstgui.h"

#include "audioeffect.h"
#include "cbitmap.h"
#include "cknob.h"
#include "conoffbutton.h"
#include "cparamdisplay.h"

#include <cstring>

using namespace VSTGUI;

namespace
{
enum ResourceIds
{
    kKnobBody = 100,
    kKnobHandle = 101,
    kBackground = 102,
    kScaleSwitch = 103,
    kNoteSwitch = 104,
};

enum ParameterIndex
{
    kPitch = 0,
    kFormant = 1,
    kScale = 2,
    kFirstNote = 3,
    kNoteCount = 12,
};

constexpr int32_t kReadoutStyle = 8;
constexpr int32_t kReadoutFont = 4; // Arial 11
} // namespace

VstGui::VstGui(AudioEffect* effect) : VstGui(effect, kNumParams, kBackground) {}

VstGui::VstGui(AudioEffect* effect, int numParams, int32_t backgroundId)
    : AEffGUIEditor(effect), numParams(numParams)
{
    for (auto& v : pendingValues)
        v.store(0.0f, std::memory_order_relaxed);
    background = new CBitmap(backgroundId);
    // The editor's size follows its background picture.
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<int16_t>(background->getHeight());
    rect.right = static_cast<int16_t>(background->getWidth());
}

VstGui::~VstGui()
{
    close();
    background->forget();
}

bool VstGui::open(void* parentWindow)
{
    AEffGUIEditor::open(parentWindow);
    editorThread.store(std::this_thread::get_id());
    pendingMask.store(0);

    frame = new CFrame(CRect(rect.left, rect.top, rect.right, rect.bottom), systemWindow, this);
    frame->setBackground(background);

    pitchKnob = makeKnob(64, 24, kPitch);
    formantKnob = makeKnob(64, 72, kFormant);

    pitchDisplay = makeReadout(CRect(112, 42, 144, 54), kPitch);
    formantDisplay = makeReadout(CRect(112, 90, 144, 102), kFormant);

    CBitmap* scalePicture = new CBitmap(kScaleSwitch);
    scaleSwitch = new COnOffButton(
        CRect(192, 28, 192 + scalePicture->getWidth(), 28 + scalePicture->getHeight() / 2), this,
        kScale, scalePicture, 0);
    scaleSwitch->setValue(effect->getParameter(kScale));
    frame->addView(scaleSwitch);
    scalePicture->forget();

    CBitmap* notePicture = new CBitmap(kNoteSwitch);
    noteSwitches = new COnOffButton*[kNoteCount];
    for (int i = 0; i < kNoteCount; ++i)
    {
        const int32_t left = 192 + 16 * i;
        noteSwitches[i] = new COnOffButton(
            CRect(left, 48, left + notePicture->getWidth(), 48 + notePicture->getHeight() / 2),
            this, kFirstNote + i, notePicture, 0);
        noteSwitches[i]->setValue(effect->getParameter(kFirstNote + i));
        frame->addView(noteSwitches[i]);
    }
    notePicture->forget();
    return true;
}

CKnob* VstGui::makeKnob(int32_t left, int32_t top, VstInt32 index)
{
    CBitmap* knobBody = new CBitmap(kKnobBody);
    CBitmap* knobHandle = new CBitmap(kKnobHandle);
    CKnob* knob =
        new CKnob(CRect(left, top, left + knobBody->getWidth(), top + knobBody->getHeight()), this,
                  index, knobBody, knobHandle);
    knob->setInsetValue(4);
    knob->setValue(effect->getParameter(index));
    frame->addView(knob);
    knobBody->forget(); // the knob holds its own references
    knobHandle->forget();
    return knob;
}

CTextLabel* VstGui::makeReadout(const CRect& box, VstInt32 index)
{
    char text[9];
    std::memset(text, 0, sizeof text);
    effect->getParameterDisplay(index, text);
    auto* label = new CTextLabel(box, text, nullptr, kReadoutStyle);
    label->setFont(kReadoutFont);
    label->setFontColor(kWhiteCColor);
    label->setBackColor(kBlackCColor);
    label->setFrameColor(kBlackCColor);
    frame->addView(label);
    return label;
}

void VstGui::showDisplay(CTextLabel* display, VstInt32 index)
{
    char text[9];
    std::memset(text, 0, sizeof text);
    effect->getParameterDisplay(index, text);
    display->setText(text);
    display->setDirty();
}

void VstGui::close()
{
    if (frame)
    {
        // The frame removes and releases every view it holds, and its window.
        frame->forget();
        frame = nullptr;
    }
    delete[] noteSwitches;
    noteSwitches = nullptr;
}

void VstGui::idle()
{
    applyPendingUpdates();
    AEffGUIEditor::idle();
}

void VstGui::setParameter(VstInt32 index, float value)
{
    effect->setParameterAutomated(index, value);
}

void VstGui::valueChanged(CDrawContext*, CControl* control)
{
    setParameter(control->getTag(), control->getValue());
}

void VstGui::updateControl(VstInt32 index, float value)
{
    if (index < 0 || index >= numParams) return;
    if (std::this_thread::get_id() == editorThread.load())
    {
        applyControl(index, value);
        return;
    }
    pendingValues[index].store(value, std::memory_order_relaxed);
    pendingMask.fetch_or(1u << index, std::memory_order_release);
}

void VstGui::applyPendingUpdates()
{
    const uint32_t mask = pendingMask.exchange(0, std::memory_order_acquire);
    for (int index = 0; index < numParams; ++index)
        if (mask & (1u << index))
            applyControl(index, pendingValues[index].load(std::memory_order_relaxed));
}

void VstGui::applyControl(VstInt32 index, float value)
{
    if (!frame) return;
    if (index == kPitch || index == kFormant)
    {
        CKnob* knob = index == kPitch ? pitchKnob : formantKnob;
        CTextLabel* display = index == kPitch ? pitchDisplay : formantDisplay;
        knob->setValue(value);
        showDisplay(display, index);
    }
    else if (index == kScale)
    {
        scaleSwitch->setValue(value);
        scaleSwitch->setDirty();
    }
    else if (index >= kFirstNote && index < kFirstNote + kNoteCount)
    {
        noteSwitches[index - kFirstNote]->setValue(value);
        noteSwitches[index - kFirstNote]->setDirty();
    }
}
