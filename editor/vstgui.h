// The plug-in's editor. Until its window and controls exist it attaches itself to the effect,
// reports the 512 x 128 editor rectangle and declines to open.
#pragma once

#include "aeffeditor.h"

class VstGui : public AEffEditor
{
public:
    explicit VstGui(AudioEffect* effect);

    bool getRect(ERect** rect) override;
    bool open(void* parentWindow) override;

    // Called by the effect's parameter setter with the host value as given.
    void updateControl(VstInt32 index, float value);

private:
    ERect rect{0, 0, 128, 512};
};
