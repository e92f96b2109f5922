// Editor base for editors built on the toolkit: the rectangle the host reads, the frame that is
// the editor's window, the edit gestures to the host, and the idle pump used while a control
// holds the mouse.
#pragma once

#include "aeffeditor.h"
#include "cframe.h"

#include <cstdint>
#include <memory>

class AEffGUIEditor : public AEffEditor, public VSTGUI::CFrameEditor
{
public:
    explicit AEffGUIEditor(AudioEffect* effect);
    ~AEffGUIEditor() override;

    bool getRect(ERect** rect) override;
    bool open(void* parentWindow) override;
    void idle() override;
    bool onKeyDown(VstKeyCode& key) override;
    bool onKeyUp(VstKeyCode& key) override;
    bool onWheel(float distance) override;
    bool setKnobMode(VstInt32 mode) override;

    // A control changed a parameter; the base does nothing.
    virtual void setParameter(VstInt32 index, float value);
    void beginEdit(VstInt32 index) override;
    void endEdit(VstInt32 index) override;
    // Repaints at most about every 100 ms while a control tracks the mouse, and gives the host
    // idle time; the host's idle calls into idle() are ignored meanwhile.
    void doIdleStuff() override;
    // The host's choice once it made one, else the editor's own default.
    int32_t getKnobMode() const override { return knobMode >= 0 ? knobMode : defaultKnobMode(); }

    VSTGUI::CFrame* getFrame() const { return frame; }

protected:
    // Circular unless an editor prefers otherwise.
    virtual int32_t defaultKnobMode() const { return 0; }

    ERect rect{0, 0, 0, 0};
    uint32_t lastTicks;       // tick count of the next allowed idle pass
    bool inIdleStuff = false; // true while the host is asked for idle time
    VSTGUI::CFrame* frame = nullptr;

private:
    // OLE on Windows, for the editor's life; released after everything above is gone.
    std::unique_ptr<VSTGUI::platform::ThreadSetup> threadSetup;
    // Shared by every editor: 0 circular, 1 relative circular, 2 linear; -1 until the host says.
    static int32_t knobMode;
};
