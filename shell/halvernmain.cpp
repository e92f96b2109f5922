// Halvern.so's effect.
#include "vexilvst.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster)
{
    return new VexilVST(audioMaster);
}
