// What makes one LV2 bundle's libraries Halvern's or Halvern Live's: the effect behind the DSP
// library's entry points and the editor in the UI library. Each library links the one definition
// of its bundle (halvernkind.cpp or livekind.cpp; halvernuikind.cpp or liveuikind.cpp).
#pragma once

#include "hostinterface.h"
#include "lv2ports.h"

#include <memory>

class AudioEffectX;
class UiEffect;
class VstGui;

namespace halvernlv2
{

struct PluginKind
{
    const char* uri;
    PortLayout ports;
    // A suspended effect running at rate, or null when it cannot run at that rate (throws
    // std::bad_alloc when it cannot allocate).
    std::unique_ptr<AudioEffectX> (*make)(audioMasterCallback host, int rate);
    // The held keys' pitch classes, where the layout has MIDI; null otherwise.
    uint16_t (*heldNotes)(const AudioEffectX& effect);
};

struct UiKind
{
    const char* uri;
    int parameters; // the effect's, all of them control ports
    // The editor, attached to effect, which owns it.
    VstGui* (*make)(UiEffect* effect);
    int heldPort; // the held keys' output port the editor shows, -1 for none
};

extern const PluginKind kPlugin;
extern const UiKind kUi;

} // namespace halvernlv2
