// HalvernLive.so's effect.
#include "livevst.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster)
{
    return new LiveVST(audioMaster);
}
